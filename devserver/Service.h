#pragma once

#include "Accounts.h"
#include "BlobStore.h"
#include "Calendar.h"
#include "Notes.h"
#include "Processing.h"
#include "Store.h"
#include "Uploads.h"

#include <string>

// The parts of the service that the routes share, and the address it answers at.
struct Service {
    Store& store;
    Accounts& accounts;
    Uploads& uploads;
    Notes& notes;
    Calendar& calendar;
    BlobStore& blobs;
    Processing& processing;
    std::string origin;
};
