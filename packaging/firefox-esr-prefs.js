// Tolvar Desktop: Firefox looks for new add-ons of the system scope (8) at every start, so profiles
// that existed before Tolvar was installed run its page-capture add-on at once, not one start later.
pref("extensions.startupScanScopes", 8);
