// Keeps the simulator library non-empty before its sources exist.
