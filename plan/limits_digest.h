// plan/limits_digest.h: the limits digest, SHA-256 over a canonical form of the plan's steps,
// their arguments, limits and expectations (kelvotest-plan(5), "LIMITS DIGEST"). Two runs were
// judged by the same rules exactly when their digests are equal; the revision stays the
// human label.
#pragma once

#include <string>

#include "plan/plan_file.h"

namespace plan {

// The canonical form, line by line, as the man page gives it.
std::string LimitsCanonicalForm(const PlanFile& plan);
// "sha256:" and 64 lower-case hex digits.
std::string LimitsDigest(const PlanFile& plan);

}  // namespace plan
