#pragma once

#include "SoundPlayer.h"

// The endless tone of the reliability tests.
using TonePlayer = SoundPlayer;
