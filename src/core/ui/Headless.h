#pragma once
// Headless runs (FWUPGRADE_HEADLESS=1): no display, boxes answered by policy, every report also
// written to the standard streams. Read once per process.

namespace fw {
bool headlessRun();
} // namespace fw
