#pragma once

#include <QString>

// The serial devices found (path, description, maker, VID:PID, serial
// number) with the stable /dev/serial/by-id and by-path names that lead to
// each, as text for standard output; both programs print it for
// --list-ports.
QString serialDevicesText();
