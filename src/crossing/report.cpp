#include "crossing/report.h"
