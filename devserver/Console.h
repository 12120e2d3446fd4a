#pragma once

#include <string>

// The service's own output: one line each, "[devserver] " first, flushed at once
// so that scripts and tests waiting for a line see it.
namespace Console {

void line(const std::string& text);

}
