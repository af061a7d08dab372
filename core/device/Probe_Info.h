#pragma once

// One probe parameter record. Kept in the settings file and written back
// unchanged; nothing in the program interprets it.
struct Probe_Info
{
    int id = 0;
    int lowdata = 0;
    int highdata = 0;
    double errratio = 0.0;
    int interval = 0;
    double natural = 0.0;
    double artificial = 0.0;
    double srcdata = 0.0;
    double srcdata_h = 0.0;
    double srcvdata = 0.0;
};
