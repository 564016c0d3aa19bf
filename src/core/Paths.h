#pragma once

// Where Vyo keeps its data, and the test-harness switch.

#include <QString>

namespace vyo {

// True when the environment variable VYO_TEST_HARNESS is set: start-up does nothing and the state
// file goes to the temporary folder.
bool isTestHarness();

// $XDG_DATA_HOME/Vyo (normally ~/.local/share/Vyo).
QString applicationDataDirectory();

// $XDG_CONFIG_HOME/Vyo/Vyo.conf (normally ~/.config/Vyo/Vyo.conf).
QString settingsFilePath();

} // namespace vyo

namespace vyo {

// The path with symbolic links resolved, "." and ".." removed and trailing "/" stripped (a path
// that does not exist is only cleaned). Drop-folder clean-up and the folder watcher compare
// folders by it.
QString canonicalPath(const QString &path);

} // namespace vyo
