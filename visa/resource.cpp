#include "visa/transport.h"
