#pragma once

#include <QLockFile>
#include <QString>

// One user of a data folder at a time: the program, and the dosectl commands
// that replace or rewrite the register (restore, migrate, check --repair),
// hold "dosemanager.lock" in the folder while they run, so two of them never
// poll the same ports or change the files under each other. A lock left by a
// process that has died is taken over; one held by a live process is never
// taken, however old.
class DataFolderLock
{
public:
    static const char* const kFileName; // "dosemanager.lock"

    explicit DataFolderLock(const QString& folder);
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    // Takes the lock without waiting. False, with the reason for the officer
    // in refusal (the process, host and program that hold it), when it is
    // held or cannot be made.
    bool tryLock(QString* refusal);

private:
    const QString folder;
    QLockFile file;
};
