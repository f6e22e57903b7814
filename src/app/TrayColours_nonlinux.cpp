// SPDX-License-Identifier: MIT
#include "app/TrayColours.h"

namespace varno {

class TrayColourWatcher::Watch {};

TrayColourWatcher::TrayColourWatcher(QObject* parent) : QObject(parent) {}
TrayColourWatcher::~TrayColourWatcher() = default;
void TrayColourWatcher::refresh() {}

} // namespace varno
