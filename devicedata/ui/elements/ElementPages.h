#pragma once

// Registers the page views of the controls (kind 9), status (kind 8) and serial number
// (kind 4) elements with the main window's page factory.
void RegisterElementPages();
