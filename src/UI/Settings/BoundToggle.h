#pragma once
// The settings window's switches: a checkbox that shows one value of the
// stored settings record, again on every republication, and hands a change to
// one operation. It keeps no value of its own. GUI thread only; the settings
// operations must outlive the checkbox.

#include <functional>

#include <QCheckBox>
#include <QString>

#include "Core/Config/AppSettings.h"

namespace pallix {

class SettingsOperations;

// `read` picks the value out of the record; `write` is the operation.
QCheckBox* boundToggle(SettingsOperations& settings, const QString& text, std::function<bool(const AppSettings&)> read,
                       std::function<void(bool)> write);

} // namespace pallix
