#pragma once
// The class layer's common header: strings and collections.
#include "afxstr.h"
#include "afxcoll.h"
#include "afxtempl.h"
