#ifndef FEMTOKIT_H
#define FEMTOKIT_H

// Umbrella header: every public class and namespace of femtokit.
#include "config/fatal.h"
#include "config/parametermap.h"
#include "source/random.h"

#endif
