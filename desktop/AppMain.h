#pragma once

// The desktop program's start-up, and the store it opens.

#include <functional>
#include <memory>

#include <QSettings>
#include <QString>

class DataBase;

class MainWindow;

// The program's start-up and teardown. main() calls it with the process
// arguments; a test may pass a hook that runs once the window is shown (to
// close it again), so the whole start-up can be exercised in-process.
int appMain(int& argc, char** argv, const std::function<void(MainWindow*)>& onShown = {});

// Opens the store the settings name and lays out its tables. Empty, or the
// reason for the officer (a wrong driver, libpq's reason and the host) when
// it cannot be used; database is then an object on no store. A station of a
// shared store that lacks part of its layout gets the list of what is
// missing (database->missingLayout() holds it).
QString openStore(QSettings& settings, std::unique_ptr<DataBase>& database);
