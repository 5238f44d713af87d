#pragma once

#include <QLoggingCategory>

#include <cstdio>

// The front ends' own diagnostics ("kalvessa.frontend").
Q_DECLARE_LOGGING_CATEGORY(lcFrontend)

// The libraries only log, each under a category of its own (kalvessa.device, kalvessa.detection);
// each program decides where that goes. From this call on, every message of a kalvessa.*
// category is written to `stream` as a line of its own text, so the window's standard output
// keeps the lines it has always printed ("Cannot open interface : <reason>"). Debug messages,
// which QT_LOGGING_RULES switches on ("kalvessa.*.debug=true"), carry their category in front.
// Other categories (Qt's own) keep Qt's handling.
namespace diagnostics {
enum class Repeats {
    Every,  // the window: every line, as it has always printed them
    Once,  // a one-shot tool: a cause that comes back (a capture failing on every try) said once
};
void writeTo(std::FILE *stream, Repeats repeats = Repeats::Every);
}  // namespace diagnostics
