// The long-lived engines every screen reads, created once by the application and handed to the main
// window, which hands them on. GUI thread only.
#pragma once

class ActivityEngine;
class ScanEngine;
class TreemapEngine;
class UninstallEngine;

struct Engines {
    ScanEngine& scan;
    TreemapEngine& treemap;
    ActivityEngine& activity;
    UninstallEngine& uninstall;
};
