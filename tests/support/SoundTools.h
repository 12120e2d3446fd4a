#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Commands the sound-server tests use against PulseAudio.
namespace SoundTools {

// Runs a program to completion: its standard output, or nothing when it failed.
std::optional<QString> run(const QString &program, const QStringList &arguments);
// `pactl` against `server` (empty: the default server).
std::optional<QString> pactl(const QStringList &arguments, const QString &server = {});
// Source outputs (record streams) the server has now, on the source named `source` when given.
QStringList sourceOutputIndices(const QString &server = {}, const QString &source = {});
// The server's index of a source, or a null string.
QString sourceIndex(const QString &name, const QString &server = {});
// Has the server end a record stream, as a user's mixer would (pactl has no command for it).
bool killSourceOutput(const QString &index, const QString &server = {});

}
