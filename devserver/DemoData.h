#pragma once

#include "Calendar.h"
#include "Notes.h"
#include "Store.h"

#include <cstdint>
#include <string>

// The demo account and its sample notes and calendar, dated relative to the
// moment they are written so that "today" is always today.
namespace DemoData {

inline const std::string email = "demo@echoquill.test";
inline const std::string accountId = "demo-user";

// Creates the demo account when missing and writes its samples afresh,
// keeping the choices the user made (ticked items, bot switches).
void seed(Store& store, Notes& notes, Calendar& calendar, std::int64_t nowMs);
// Sample calendar meetings around `nowMs`: live now, later today, tomorrow, in three days.
void seedCalendar(Calendar& calendar, const std::string& accountId, std::int64_t nowMs);
// A newly connected calendar gets the sample meetings when it has none.
void fillEmptyCalendar(Calendar& calendar, const std::string& accountId, std::int64_t nowMs);

}
