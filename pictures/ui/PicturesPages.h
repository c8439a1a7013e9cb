#pragma once

// Registers the pictures page for "pictures" (kind 1) and "pictext" (kind 10) elements.
void RegisterPicturesPages();
