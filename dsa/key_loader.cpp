#include "dsa/key_loader.h"
