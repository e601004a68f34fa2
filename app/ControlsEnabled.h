#pragma once
// Enabling and disabling a container and everything inside it, the way the main
// window locks its commands. Labels never change and never grey out.

class QWidget;

// Sets `control` and, when it is one of the window's panels or group boxes, each
// control inside it, recursively. A container that holds labels is not disabled
// itself (Qt would grey its labels with it); its other controls are, one by one.
void SetControlsEnabled(QWidget* control, bool enabled);
