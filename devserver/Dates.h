#pragma once

#include <QString>

#include <cstdint>

// Texts of points in time, given as milliseconds since the epoch.
namespace Dates {

// "2025-05-20T13:30:00.000Z": what the client parses.
QString iso(std::int64_t ms);
// "3:30 PM" in local time.
QString clock(std::int64_t ms);
// "Tue, May 20 · 3:30 PM" in local time.
QString recorded(std::int64_t ms);
// Local midnight starting the day `days` after the one holding `ms`.
std::int64_t startOfDay(std::int64_t ms, int days = 0);

}
