// The debug list and the log file.
#include "app/diagnostics.h"
#include "tests/app/shell_window.h"

#include <gtest/gtest.h>
