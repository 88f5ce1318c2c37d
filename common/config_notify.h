// common/config_notify.h
#pragma once

// Where the proxying component watches for configuration changes.
constexpr char kChangeCounterKey[] = "SOFTWARE\\ZorizuzAduz\\ProxyClient";
constexpr char kChangeCounterValue[] = "reload";

// Tells the proxying component that client.db changed: increments the
// counter (a missing or unreadable one counts as 0; 0xFFFFFFFF wraps to 0).
// Silent when the key cannot be opened for writing.
void NotifyConfigChanged();
