#pragma once
// The error messages: the first seven records of error_table on rows 13 to 19.
#include <cstdint>

void show_error_messages();
