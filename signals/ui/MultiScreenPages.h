#pragma once

// Registers the multiscreen page for "multiscreen" elements (kind 13).
void RegisterMultiScreenPages();
