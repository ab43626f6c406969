#include "instruments/visasession.h"
