// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace varno {

// Text that came from outside (a server, another program, a file) made safe to show
// and log: control and direction-changing characters removed, runs of white space and
// line breaks collapsed to one space, and cut to at most `maxLength` characters with
// "…". It stops reading once it has enough, so a text of many megabytes costs no
// more than a short one. Laying out a few hundred characters is cheap; laying out
// megabytes freezes the main thread.
QString boundedText(const QString& text, qsizetype maxLength);

// The most of a server's or decoder's sentence that the app shows or logs.
inline constexpr qsizetype maxMessageLength = 300;
// The most of a person's name that the app shows.
inline constexpr qsizetype maxNameLength = 64;

// A name from the server, fit to stand inside other text: bounded as above and
// wrapped in a first-strong isolate, so a right-to-left name shows in its own order
// and cannot reorder the words around it. Empty when nothing showable is left.
QString isolatedName(const QString& name);

// What stands for a person wherever their name is shown or read out: the isolated
// name, or "Someone" when the server's name has nothing showable in it.
QString personName(const QString& name);

} // namespace varno
