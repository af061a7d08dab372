#pragma once

// The seven tables of the register, the indexes their lookups need and, on a
// shared store, the unique keys that keep every reading and total once. An
// existing file keeps its rows and gains what it lacks; an SQLite file runs
// with a write-ahead log.

#include <QSqlDatabase>

class Store;

class Schema
{
public:
    explicit Schema(Store& store);

    bool layOut(const QSqlDatabase& db);

private:
    Store& store;
};
