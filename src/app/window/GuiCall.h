#pragma once

#include <QString>

#include <functional>
#include <string>

class QObject;
class QWidget;

namespace orvex {

// Runs `call` on the thread `context` lives on (the GUI thread) and waits
// until it has run; runs it at once when called there. The GUI thread must
// never wait for the caller, or both would wait for ever; the window keeps
// to that by never blocking on its workers.
void CallOnGuiThread(QObject* context, const std::function<void()>& call);

// A plain modal message box with an OK button, titled with the program's
// name; returns when the operator has dismissed it. GUI thread only.
void ShowMessageBox(QWidget* parent, const QString& text);
// The same box with a second paragraph that says which field, path or
// command the message is about and why.
void ShowMessageBox(QWidget* parent, const QString& text, const QString& detail);

QString ToQString(const std::string& text);
std::string ToStdString(const QString& text);

// The window title of every message box.
inline constexpr const char* kMessageBoxTitle = "ORVEX VMC Core";

} // namespace orvex
