// sim/scenario.h: the virtual scanner's settings. They come from one text of "key = value"
// lines (';' also separates): the file named by KELVOSIM_SCENARIO, then the text in
// KELVOSIM, or whatever SimConfigure() was given in process. Later keys win.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

bool ScenarioHas(const char* key);
std::string ScenarioText(const char* key, const char* fallback);
double ScenarioNumber(const char* key, double fallback);
int64_t ScenarioInteger(const char* key, int64_t fallback);   // decimal, or hex with 0x

// Replaces the settings with the given text (nullptr: read the environment again).
void ScenarioReplace(const char* text);

}  // namespace sim
