#include "PreviewLayout.h"
