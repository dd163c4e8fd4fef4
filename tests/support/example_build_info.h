// example_build_info.h: the build-time constants of the example build, for
// tests and probes that link the launcher's stages without a packed image.
#ifndef ZOBREL_TESTS_SUPPORT_EXAMPLE_BUILD_INFO_H
#define ZOBREL_TESTS_SUPPORT_EXAMPLE_BUILD_INFO_H

#include "common/launch_shared.h"

// Target specification {CACHE_DIR}\MOLTARN\vexor\0.2.0, company "MOLTARN LLC",
// product "vexor", version "0.2.0-0.2.0.0", file version "0.2.0.0", product
// version "0.2.0", and a payload whose archive holds no record; no record
// index, content check.
void use_example_build_info(BuildInfo *build);

// init_launch_shared, then the example build's constants.
void init_example_launch(LaunchShared *launch, const wchar_t *argv0);

#endif
