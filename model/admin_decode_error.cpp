#include "model/admin_decode_error.h"
