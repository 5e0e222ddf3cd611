#pragma once

// Start-up hook for crash reporting. Nothing is collected on this platform, so
// install() deliberately leaves the default signal dispositions alone.
class CrashHandler
{
public:
    static void install();
};
