#include "engine/row_progress.h"
