#include "batch/batchoptions.h"
