// Puts the client's native functions on this frame's window. Injected at document
// creation into the main world of every frame, before any of the page's own scripts run.
//
// Each call becomes one request to the browser process: an asynchronous GET of
//   vornbridge://call/?d=<document token>&s=<sequence>&a=<URI-encoded JSON array of strings>
// The array is [name] or, for LockApp and Init called with exactly one argument, [name, text]
// where text is the argument itself when it is a string and "" otherwise. The browser side
// orders requests of one document by their sequence number, which starts at 1.
//
// Everything the bridge relies on is taken now, before the page runs, so a page that later
// replaces XMLHttpRequest, its methods, encodeURIComponent or JSON cannot break the bridge or
// read its requests. A bridge function never throws and always returns undefined.
(function () {
    'use strict';

    var global = window;
    var apply = Reflect.apply;
    var defineProperty = Object.defineProperty;
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

    function send(args) {
        sequence += 1;
        // Each string is serialised on its own: JSON.stringify of a primitive string consults
        // no toJSON, whereas an array would look one up on the page's Array.prototype.
        var json = '[' + apply(stringify, JSON, [args[0]]);
        if (args.length > 1)
            json += ',' + apply(stringify, JSON, [args[1]]);
        json += ']';
        debug('request ' + sequence + ': ' + json);
        var url = 'vornbridge://call/?d=' + documentToken + '&s=' + sequence + '&a=' +
            apply(encode, global, [json]);
        var request = new XHR();
        apply(xhrOpen, request, ['GET', url, true]);
        apply(xhrSend, request, []);
    }

    // Only these two take an argument; the others send their name alone.
    var takesArgument = { LockApp: true, Init: true };

    function makeBridgeFunction(name) {
        var withArgument = takesArgument[name] === true;
        return function () {
            try {
                var args;
                if (withArgument && arguments.length === 1) {
                    var value = arguments[0];
                    args = [name, typeof value === 'string' ? value : ''];
                } else {
                    args = [name];
                }
                send(args);
            } catch (e) {
                debug(name + ' failed: ' + e);
            }
            return undefined;
        };
    }

    var names = ['LockApp', 'Init', 'Close', 'ReadCard', 'Update', 'GetVCamList',
        'GetIsRemoteLogin', 'GetClientInfo'];
    for (var i = 0; i < names.length; i++) {
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
})();
