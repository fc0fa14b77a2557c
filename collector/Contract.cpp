#include "collector/Contract.h"
