// line/times.h: the store's one form of time, "2026-12-07T18:33:07.123Z" (UTC, milliseconds),
// which sorts as text in both engines.
#pragma once

#include <optional>
#include <string>

namespace line {

std::string NowUtc();
// An RFC 3339 time stamp ("2026-12-07T19:33:07.1+01:00", "…Z") in the store's form.
std::optional<std::string> NormaliseTimestamp(const std::string& text);
// A --since/--until value: an RFC 3339 time, a date ("2026-12-07", midnight UTC), a date and a
// time without zone ("2026-12-07T06:00" or "2026-12-07 06:00", UTC), or a span back from now
// ("36h", "7d", "90m").
std::optional<std::string> ParseTimeArgument(const std::string& text);

}  // namespace line
