#include "spreadsheet/model.h"
// Implemented with the BIFF8 reader and writer.
