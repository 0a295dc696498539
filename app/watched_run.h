#pragma once
// The interactive run's work on a thread of its own, while this thread keeps
// the desktop answering and its progress window up to date.

#include "core/progress.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace kb {

// Runs `work` on a worker thread and serves the desktop meanwhile (see
// Desktop::watch); returns what it returns and throws what it throws, once
// it has ended. The window's "Abbrechen" (or closing the window) asks the
// work to stop as a signal does, and its line says that the run's changes are
// being put back; once the work's last change is in place it is no longer
// offered. AppKit and GTK want their windows served by the thread that made
// them, which the installer's main thread does.
nlohmann::json runWatched(const std::string& title, const std::function<nlohmann::json(Progress&)>& work);

}  // namespace kb
