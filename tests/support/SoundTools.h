#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// Commands the sound-server tests use against PulseAudio or pipewire-pulse.
namespace SoundTools {

// Runs a program to completion: its standard output, or nothing when it failed.
std::optional<QString> run(const QString& program, const QStringList& arguments);
// `pactl` against `server` (empty: the default server).
std::optional<QString> pactl(const QStringList& arguments, const QString& server = {});
// Source outputs (record streams) the server has now, on the source named `source` when given.
QStringList sourceOutputIndices(const QString& server = {}, const QString& source = {});
// The server's index of a source, or a null string.
QString sourceIndex(const QString& name, const QString& server = {});
// Whether the server is pipewire-pulse rather than PulseAudio.
bool isPipeWire(const QString& server = {});
// The sample rate and channel count the server runs a source at (PipeWire: often not what it was created with).
std::pair<int, int> sourceRateAndChannels(const QString& name, const QString& server = {});
// Has the server end a record stream, as a user's mixer would (pactl has no command for it).
bool killSourceOutput(const QString& index, const QString& server = {});

}
