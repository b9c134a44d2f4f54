// The core's operating-system layer, in one include: everything above it
// (FileSpec, File, the encoders, the localizer, the dialogs) reaches the
// system only through these operations.
#pragma once
#include "core/platform/Environment.h"
#include "core/platform/FileSystem.h"
#include "core/platform/Folders.h"
#include "core/platform/NativeText.h"
