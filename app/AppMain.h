#pragma once

#include <functional>

class MainWindow;

// The program's start-up and teardown. main() calls it with the process
// arguments; a test may pass a hook that runs once the window is shown (to
// close it again), so the whole start-up can be exercised in-process.
int appMain(int& argc, char** argv, const std::function<void(MainWindow*)>& onShown = {});
