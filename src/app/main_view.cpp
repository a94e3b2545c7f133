#include "app/main_view.h"
