// Puts the client's native functions on this frame's window. Injected at document
// creation into the main world of every frame, before any of the page's own scripts run.
//
// A call is not sent at once: it joins its window's queue, and one microtask after the first call
// of a script task sends the whole queue, in call order, as one request to the browser process:
// an asynchronous GET of
//   vornbridge://call/?d=<document token>&s=<sequence of the first call>&a=<call>&a=<call>...
// Each call is a URI-encoded JSON array of strings, [name] or, for LockApp and Init called with
// exactly one argument, [name, text] where text is the argument itself when it is a string and
// "" otherwise. Calls are numbered 1, 2, 3 ... per document; the calls of a request carry the
// numbers from s on, and the browser side orders them by these numbers. The engine's handling of
// each request costs its UI thread far more than the calls in it, so a burst of calls from one
// task travels in as few requests as the bounds below allow.
//
// Everything the bridge relies on is taken now, before the page runs, so a page that later
// replaces XMLHttpRequest, its methods, encodeURIComponent, JSON, queueMicrotask or Promise cannot
// break the bridge or read its requests. A bridge function never throws and always returns
// undefined.
(function () {
    'use strict';

    var apply = Reflect.apply;
    var defineProperty = Object.defineProperty;
    var getOwnPropertyDescriptor = Object.getOwnPropertyDescriptor;
    // The build writes the names and the argument rules from the request table
    // (PageRequest.cpp) and the call limit from BridgeCall.h.
    var NAMES = [@PAGE_FUNCTIONS@];
    // Only these take an argument; the others send their name alone.
    var TAKES_ARGUMENT = { @PAGE_FUNCTIONS_WITH_ARGUMENT@ };
    // At most this many calls in one request: the browser side refuses more.
    var MAX_CALLS = @MAX_CALLS@;
    // A request of several calls stays below this many characters of URL, far below what the
    // engine accepts; a single call longer than this (a long LockApp or Init text) goes alone.
    var MAX_URL = 16384;
    var later = makeScheduler();

    // Runs a callback once the current script task's code is done, before the engine turns to
    // anything else. Taken from this window now, like everything else, so that the page cannot
    // replace it; where there is no queueMicrotask, an async function's await queues the
    // continuation through the engine's own promise steps, which look nothing up that the page
    // could have replaced.
    function makeScheduler() {
        var queueMicrotask = window.queueMicrotask;
        if (typeof queueMicrotask === 'function')
            return function (callback) { apply(queueMicrotask, window, [callback]); };
        return function (callback) {
            (async function () {
                await undefined;
                callback();
            })();
        };
    }

    // Puts the functions on one window and returns nothing; `global` is this frame's window or
    // a same-origin child window created by script (see watchChildFrames).
    function install(global) {
        var XHR = global.XMLHttpRequest;
        var xhrOpen = XHR && XHR.prototype.open;
        var xhrSend = XHR && XHR.prototype.send;
        var encode = global.encodeURIComponent;
        var stringify = JSON.stringify;
        var pageConsole = global.console;
        var consoleDebug = pageConsole && pageConsole.debug;

        function debug(text) {
            try {
                if (typeof consoleDebug === 'function')
                    apply(consoleDebug, pageConsole, ['[vorn-bridge] ' + text]);
            } catch (e) {
                // Diagnostics must never disturb the page.
            }
        }

        function makeDocumentToken() {
            var hex = '0123456789abcdef';
            var token = '';
            var i;
            try {
                var bytes = new Uint8Array(8);
                global.crypto.getRandomValues(bytes);
                for (i = 0; i < 8; i++)
                    token += hex.charAt(bytes[i] >> 4) + hex.charAt(bytes[i] & 15);
                return token;
            } catch (e) {
                // No Web Crypto (should not happen in a page): a token that is still per document.
                token = '';
                for (i = 0; i < 16; i++)
                    token += hex.charAt(Math.floor(Math.random() * 16));
                return token;
            }
        }

        var documentToken = makeDocumentToken();
        var sequence = 0;
        // The calls not yet sent, as the URL's `&a=...` parts (a string, not an array: the page
        // can put setters on Array.prototype), how many, and the first one's sequence.
        var queued = '';
        var queuedCount = 0;
        var queuedFirst = 0;
        var sendScheduled = false;

        function sendQueued() {
            if (queuedCount === 0)
                return;
            var url = 'vornbridge://call/?d=' + documentToken + '&s=' + queuedFirst + queued;
            queued = '';
            queuedCount = 0;
            try {
                var request = new XHR();
                apply(xhrOpen, request, ['GET', url, true]);
                apply(xhrSend, request, []);
            } catch (e) {
                debug('request failed: ' + e);
            }
        }

        function sendScheduledQueue() {
            sendScheduled = false;
            sendQueued();
        }

        function call(args) {
            sequence += 1;
            // Each string is serialised on its own: JSON.stringify of a primitive string consults
            // no toJSON, whereas an array would look one up on the page's Array.prototype.
            var json = '[' + apply(stringify, JSON, [args[0]]);
            if (args.length > 1)
                json += ',' + apply(stringify, JSON, [args[1]]);
            json += ']';
            debug('call ' + sequence + ': ' + json);
            var part = '&a=' + apply(encode, global, [json]);
            var length = 'vornbridge://call/?d=&s='.length + documentToken.length +
                ('' + queuedFirst).length + queued.length + part.length;
            if (queuedCount >= MAX_CALLS || (queuedCount > 0 && length > MAX_URL))
                sendQueued();
            if (queuedCount === 0)
                queuedFirst = sequence;
            queued += part;
            queuedCount += 1;
            if (sendScheduled)
                return;
            try {
                later(sendScheduledQueue);
                sendScheduled = true;
            } catch (e) {
                // Cannot wait for the end of the task (should not happen): never lose the call.
                sendQueued();
            }
        }

        function makeBridgeFunction(name) {
            var withArgument = TAKES_ARGUMENT[name] === true;
            return function () {
                try {
                    var args;
                    if (withArgument && arguments.length === 1) {
                        var value = arguments[0];
                        args = [name, typeof value === 'string' ? value : ''];
                    } else {
                        args = [name];
                    }
                    call(args);
                } catch (e) {
                    debug(name + ' failed: ' + e);
                }
                return undefined;
            };
        }

        var names = NAMES;
        for (var i = 0; i < names.length; i++) {
            if (typeof global[names[i]] === 'function' && global !== window)
                continue;  // a child window that has them already keeps its own
            try {
                // Plain data properties, as the page would create by assignment: a page that
                // assigns its own function replaces the native one for that page.
                defineProperty(global, names[i], {
                    value: makeBridgeFunction(names[i]),
                    writable: true,
                    enumerable: true,
                    configurable: true
                });
            } catch (e) {
                debug('cannot define ' + names[i] + ': ' + e);
            }
        }
        watchChildFrames(global);
    }

    // A frame created by script (no src, or about:blank) gets no injected script before the
    // page's next statement runs, yet pages call the functions in it at once. Whenever the
    // page reaches such a window through its element, or the element is added to the document,
    // the functions are put there. Cross-origin windows cannot be touched and are left alone.
    function bindChild(win) {
        try {
            if (!win || win === window || typeof win.LockApp === 'function')
                return;
            void win.document;  // throws for a window of another origin
        } catch (e) {
            return;
        }
        try {
            if (!('__vornLockAvailable' in win) && '__vornLockAvailable' in window) {
                defineProperty(win, '__vornLockAvailable', {
                    value: window.__vornLockAvailable, writable: false, enumerable: false,
                    configurable: false
                });
            }
            install(win);
        } catch (e) {
            // The page goes on without the functions in that frame, as before.
        }
    }

    function watchChildFrames(global) {
        var kinds = ['HTMLIFrameElement', 'HTMLFrameElement'];
        for (var k = 0; k < kinds.length; k++) {
            var kind = global[kinds[k]];
            if (typeof kind !== 'function' || !kind.prototype)
                continue;
            hookGetter(kind.prototype, 'contentWindow', function (value) { bindChild(value); });
            hookGetter(kind.prototype, 'contentDocument', function (value) {
                bindChild(value && value.defaultView);
            });
        }
        try {
            var Observer = global.MutationObserver;
            var doc = global.document;
            if (typeof Observer !== 'function' || !doc)
                return;
            // Frames reached only through window.frames are bound when they join the document,
            // before any timer or event of the page runs.
            new Observer(function (records) {
                for (var r = 0; r < records.length; r++) {
                    var added = records[r].addedNodes;
                    for (var n = 0; n < added.length; n++)
                        bindFramesIn(added[n]);
                }
            }).observe(doc, { childList: true, subtree: true });
        } catch (e) {
            debug('cannot watch frames: ' + e);
        }
    }

    function bindFramesIn(node) {
        try {
            if (!node || node.nodeType !== 1)
                return;
            var tag = node.tagName;
            if (tag === 'IFRAME' || tag === 'FRAME')
                bindChild(node.contentWindow);
            if (node.firstElementChild) {
                var frames = node.querySelectorAll('iframe,frame');
                for (var f = 0; f < frames.length; f++)
                    bindChild(frames[f].contentWindow);
            }
        } catch (e) {
            // An element the page made strange: nothing to bind.
        }
    }

    function hookGetter(proto, name, after) {
        try {
            var original = getOwnPropertyDescriptor(proto, name);
            if (!original || typeof original.get !== 'function' || !original.configurable)
                return;
            var get = original.get;
            defineProperty(proto, name, {
                get: function () {
                    var value = apply(get, this, []);
                    after(value);
                    return value;
                },
                set: original.set,
                enumerable: original.enumerable,
                configurable: true
            });
        } catch (e) {
            debug('cannot watch ' + name + ': ' + e);
        }
    }

    // debug of the top level, for the helpers above
    function debug(text) {
        try {
            var c = window.console;
            if (c && typeof c.debug === 'function')
                apply(c.debug, c, ['[vorn-bridge] ' + text]);
        } catch (e) {
            // Diagnostics must never disturb the page.
        }
    }

    install(window);
})();
