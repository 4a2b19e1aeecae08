// Tolvar Desktop page capture.
//
// Reports the active tab of the last focused normal window to Tolvar Desktop's native-messaging
// host, so that the quick-save panel (Ctrl+Alt+B) opens filled with the page being read. A report
// goes out on every change of the active tab, of that tab's address or title, and of the focused
// window: {browser, address, title, focused}, where "focused" is the time of the browser's last
// focus change in milliseconds since 1970.
//
// Private and incognito windows are never looked at: the manifest keeps the extension out of
// them. When the focus moves somewhere the extension may not report (a private window, a pop-up or
// developer-tools window, another application), it sends a report with an empty address and title,
// so Tolvar never offers a tab the user has left.
//
// One source serves the Chromium family (service worker) and Firefox (background script).
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const hostName = "app.tolvar.desktop.capture";
const longestText = 64 * 1024; // bytes of UTF-8 the host accepts for an address or a title

// The browser's short name. The host prefers the browser it was started by where it can tell.
function browserName() {
  if (typeof globalThis.browser !== "undefined" && typeof api.runtime.getBrowserInfo === "function") {
    return "firefox";
  }
  const brands = (globalThis.navigator?.userAgentData?.brands ?? []).map((entry) => entry.brand);
  if (brands.includes("Google Chrome")) return "chrome";
  if (brands.includes("Microsoft Edge")) return "edge";
  if (brands.includes("Brave")) return "brave";
  if (brands.includes("Vivaldi")) return "vivaldi";
  return "chromium";
}

const browserKey = browserName();
const encoder = new TextEncoder();
let port = null;
let focusedAt = Date.now();
let browserHasFocus = false;
let queue = Promise.resolve();

function connection() {
  if (port !== null) return port;
  try {
    port = api.runtime.connectNative(hostName);
  } catch (error) {
    port = null;
    return null;
  }
  port.onDisconnect.addListener(() => {
    void api.runtime.lastError; // read, so the browser does not log it as unchecked
    port = null;
  });
  // The host answers every report; the answers need no action.
  port.onMessage.addListener(() => {});
  return port;
}

function send(address, title) {
  const target = connection();
  if (target === null) return;
  try {
    target.postMessage({ browser: browserKey, address, title, focused: focusedAt });
  } catch (error) {
    port = null;
  }
}

function fits(text) {
  return typeof text === "string" && encoder.encode(text).length <= longestText;
}

async function report() {
  if (!browserHasFocus) return send("", "");
  let window;
  try {
    window = await api.windows.getLastFocused({ populate: true, windowTypes: ["normal"] });
  } catch (error) {
    return send("", "");
  }
  if (!window || window.incognito || window.type !== "normal") return send("", "");
  const tab = (window.tabs ?? []).find((candidate) => candidate.active);
  if (!tab || tab.incognito || !fits(tab.url)) return send("", "");
  send(tab.url, fits(tab.title) ? tab.title : "");
}

// Reports one after another, in the order of the changes.
function schedule() {
  queue = queue.then(report).catch(() => {});
}

// Whether a focused window is one whose tabs may be reported.
async function isReportable(windowId) {
  if (windowId === api.windows.WINDOW_ID_NONE) return false;
  try {
    const window = await api.windows.get(windowId);
    return window.type === "normal" && !window.incognito;
  } catch (error) {
    return false;
  }
}

api.windows.onFocusChanged.addListener((windowId) => {
  focusedAt = Date.now();
  queue = queue
    .then(async () => {
      browserHasFocus = await isReportable(windowId);
    })
    .then(report)
    .catch(() => {});
});

api.tabs.onActivated.addListener(schedule);
api.tabs.onUpdated.addListener((tabId, change, tab) => {
  if (tab.active && ("url" in change || "title" in change || change.status === "complete")) schedule();
});
api.tabs.onRemoved.addListener(schedule);
api.tabs.onAttached.addListener(schedule);
api.tabs.onDetached.addListener(schedule);
if (api.tabs.onReplaced) api.tabs.onReplaced.addListener(schedule);
api.windows.onRemoved.addListener(schedule);

// At start (browser start, or the worker woken again) the state is read afresh.
queue = queue
  .then(async () => {
    const window = await api.windows.getLastFocused({ windowTypes: ["normal"] });
    browserHasFocus = Boolean(window && window.focused && !window.incognito);
    focusedAt = Date.now();
  })
  .catch(() => {
    browserHasFocus = false;
  })
  .then(report)
  .catch(() => {});
