#pragma once
// Headless runs (FWUPGRADE_HEADLESS=1): no display, boxes answered by policy, every report also
// written to the standard streams, as text lines or (FWUPGRADE_OUTPUT=jsonl) JSON Lines on
// standard output. Read once per process.

namespace fw {
bool headlessRun();
// A headless run whose reports are JSON Lines (ui/JsonLines.h).
bool jsonLinesOutput();
} // namespace fw
