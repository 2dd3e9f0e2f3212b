#include "json/document.h"
