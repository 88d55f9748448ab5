// The pipes and captured output between a test and its children, declared with run_in_child.
#pragma once

#include "support/child.hpp"
