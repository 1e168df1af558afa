// Loads the injected page script into a fake frame (a fresh node context whose window has a
// recording XMLHttpRequest) and checks one scenario.
//   node bridge_js_harness.js <bridge.js> <scenario> <most calls the browser side takes at once>
// Exit code 0 when every check of the scenario holds; otherwise the failures on stderr. A scenario
// runs "page" code as a script task and awaits settle() where the task ends, so that microtasks
// queued by the task run before its requests are checked.
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');
const { webcrypto } = require('crypto');

const bridgeSource = fs.readFileSync(process.argv[2], 'utf8');
const scenario = process.argv[3];
const MAX_CALLS = Number(process.argv[4]);
// The page script's own bound on a request of several calls.
const MAX_URL = 16384;
const NAMES = ['LockApp', 'Init', 'Close', 'ReadCard', 'Update', 'GetVCamList', 'GetIsRemoteLogin',
    'GetClientInfo'];

// A frame: the bridge injected first, then "page" code run in the same context.
function makeFrame(options = {}) {
    const sent = [];
    const debugLines = [];
    class RecordingXHR {
        constructor() {
            if (options.xhrConstructorThrows) throw new Error('constructor failure');
        }
        open(method, url, async) {
            if (options.openThrows) throw new Error('open failure');
            this.request = { method, url, async, sent: false };
        }
        send(body) {
            if (options.sendThrows) throw new Error('send failure');
            this.request.sent = true;
            this.request.body = body;
            sent.push(this.request);
        }
    }
    const sandbox = {
        XMLHttpRequest: RecordingXHR,
        console: { debug: (...parts) => debugLines.push(parts.join(' ')) },
        crypto: { getRandomValues: (array) => webcrypto.getRandomValues(array) },
        queueMicrotask: options.queueMicrotaskThrows
            ? () => { throw new Error('cannot queue'); }
            : (callback) => queueMicrotask(callback),
    };
    if (options.withoutQueueMicrotask)
        delete sandbox.queueMicrotask;
    if (options.withoutConsoleOrCrypto) {
        delete sandbox.console;
        delete sandbox.crypto;
    }
    const context = vm.createContext(sandbox);
    vm.runInContext('globalThis.window = globalThis;', context);
    vm.runInContext(bridgeSource, context, { filename: 'bridge.js' });
    const page = (code) => vm.runInContext(code, context, { filename: 'page.js' });
    return { sent, debugLines, page, RecordingXHR };
}

// The end of a script task: every microtask it queued has run.
const settle = () => new Promise((resolve) => setImmediate(resolve));

const URL_PATTERN = /^vornbridge:\/\/call\/\?d=([0-9a-f]{16})&s=([0-9]+)((?:&a=[^&#]*)+)$/;

function decode(request) {
    const match = URL_PATTERN.exec(request.url);
    assert.ok(match, 'URL has the bridge form: ' + request.url);
    assert.strictEqual(request.method, 'GET');
    assert.strictEqual(request.async, true, 'asynchronous request');
    assert.strictEqual(request.sent, true);
    const calls = match[3].split('&a=').slice(1).map((part) => JSON.parse(decodeURIComponent(part)));
    assert.ok(calls.length <= MAX_CALLS, 'at most ' + MAX_CALLS + ' calls in a request');
    assert.ok(calls.length === 1 || request.url.length <= MAX_URL, 'a request of several calls is short');
    return { doc: match[1], seq: Number(match[2]), calls };
}

// Every call the frame sent, in order, numbered on from 1 across its requests.
function expectCalls(frame, expectedArgs) {
    const decoded = frame.sent.map(decode);
    let next = 1;
    for (const request of decoded) {
        assert.strictEqual(request.seq, next, 'a request carries the sequence of its first call');
        assert.strictEqual(request.doc, decoded[0].doc, 'one token per document');
        next += request.calls.length;
    }
    assert.deepStrictEqual([].concat(...decoded.map((request) => request.calls)), expectedArgs);
    return decoded;
}

const scenarios = {
    // The functions are plain data properties of window, return undefined.
    async functions() {
        const frame = makeFrame();
        for (const name of NAMES) {
            const descriptor = frame.page(`Object.getOwnPropertyDescriptor(window, '${name}')`);
            assert.ok(descriptor, name + ' is defined');
            assert.strictEqual(typeof descriptor.value, 'function', name);
            assert.strictEqual(descriptor.writable, true, name + ' writable');
            assert.strictEqual(descriptor.enumerable, true, name + ' enumerable');
            assert.strictEqual(descriptor.configurable, true, name + ' configurable');
            assert.strictEqual(frame.page(`${name}()`), undefined, name + ' returns undefined');
        }
        assert.strictEqual(frame.page(`typeof window.lockapp`), 'undefined');
        await settle();
        expectCalls(frame, NAMES.map((name) => [name]));
    },

    // Only LockApp and Init with exactly one argument carry it; non-strings travel as "".
    async argumentRules() {
        const frame = makeFrame();
        frame.page(`
            LockApp('1'); LockApp('0'); LockApp(1); LockApp(true); LockApp(null);
            LockApp(undefined); LockApp({ toString() { return '1'; } }); LockApp(new String('1'));
            LockApp(); LockApp('1', '2');
            Init('3'); Init(3); Init(); Init('3', '4'); Init('');
            Close('x'); ReadCard(1); Update('1'); GetVCamList('a', 'b'); GetIsRemoteLogin(true);
            GetClientInfo('x');
        `);
        await settle();
        expectCalls(frame, [
            ['LockApp', '1'], ['LockApp', '0'], ['LockApp', ''], ['LockApp', ''], ['LockApp', ''],
            ['LockApp', ''], ['LockApp', ''], ['LockApp', ''],
            ['LockApp'], ['LockApp'],
            ['Init', '3'], ['Init', ''], ['Init'], ['Init'], ['Init', ''],
            ['Close'], ['ReadCard'], ['Update'], ['GetVCamList'], ['GetIsRemoteLogin'],
            ['GetClientInfo'],
        ]);
    },

    // Any string argument reaches the browser side exactly, whatever it contains.
    async hostileArguments() {
        const frame = makeFrame();
        const texts = ['a&b=c#d?e%f+g h', '\u2028\u2029\n\r\t\0', '"\'\\', '</script>',
            '\uD83D\uDE00 \u4E2D\u6587', '\uD800', '\uDC00x', 'x'.repeat(10000), '&a=["Close"]'];
        for (const text of texts)
            frame.page(`LockApp(${JSON.stringify(text)})`);
        await settle();
        expectCalls(frame, texts.map((text) => ['LockApp', text]));
    },

    // Each document has its own random token and its own sequence from 1; order is kept.
    async documents() {
        const first = makeFrame();
        const second = makeFrame();
        first.page(`for (let i = 0; i < 300; i++) GetIsRemoteLogin();`);
        second.page(`Update();`);
        await settle();
        const a = expectCalls(first, Array(300).fill(['GetIsRemoteLogin']));
        const b = expectCalls(second, [['Update']]);
        assert.notStrictEqual(a[0].doc, b[0].doc, 'tokens differ between documents');
    },

    // The calls of one script task travel in one request, in call order; a later task's calls
    // go in a new request; the bounds split a long burst into as few requests as they allow.
    async batching() {
        const frame = makeFrame();
        frame.page(`LockApp('1'); GetVCamList();`);
        frame.page(`Init('2');`);  // still the same task
        assert.strictEqual(frame.sent.length, 0, 'nothing goes before the task ends');
        await settle();
        frame.page(`Update();`);
        await settle();
        let requests = expectCalls(frame, [['LockApp', '1'], ['GetVCamList'], ['Init', '2'],
            ['Update']]);
        assert.deepStrictEqual(requests.map((r) => r.calls.length), [3, 1]);

        const burst = makeFrame();
        burst.page(`for (let i = 0; i < 300; i++) GetIsRemoteLogin();`);
        await settle();
        requests = expectCalls(burst, Array(300).fill(['GetIsRemoteLogin']));
        assert.strictEqual(requests.length, Math.ceil(300 / MAX_CALLS), 'requests as full as allowed');

        // Long texts: several go together while the URL stays short, a longer one goes alone.
        const long = makeFrame();
        const texts = ['a'.repeat(6000), 'b'.repeat(6000), 'c'.repeat(6000), 'd'.repeat(20000), 'e', 'f'];
        long.page(texts.map((text) => `Init('${text}');`).join(''));
        await settle();
        requests = expectCalls(long, texts.map((text) => ['Init', text]));
        assert.deepStrictEqual(requests.map((r) => r.calls.length), [2, 1, 1, 2]);
    },

    // A page that replaces what the bridge uses can neither break it nor see its requests.
    async capturedAtInjection() {
        for (const options of [{}, { withoutQueueMicrotask: true }]) {
            const frame = makeFrame(options);
            frame.page(`
                var spied = [];
                var Original = XMLHttpRequest;
                window.XMLHttpRequest = function () { spied.push('constructor'); };
                Original.prototype.open = function () { spied.push('open'); };
                Original.prototype.send = function () { spied.push('send'); };
                window.encodeURIComponent = function () { spied.push('encode'); return 'x'; };
                JSON.stringify = function () { spied.push('stringify'); return '"x"'; };
                Array.prototype.toJSON = function () { spied.push('toJSON'); return 'x'; };
                String.prototype.toJSON = function () { spied.push('toJSON'); return 'x'; };
                Object.defineProperty(Array.prototype, '1', {
                    set() { spied.push('setter'); }, get() { return 'x'; }, configurable: true });
                Reflect.apply = function () { spied.push('apply'); };
                Function.prototype.apply = function () { spied.push('fapply'); };
                Function.prototype.call = function () { spied.push('call'); };
                console.debug = function () { spied.push('debug'); };
                window.queueMicrotask = function () { spied.push('queueMicrotask'); };
                var OriginalPromise = Promise;
                OriginalPromise.prototype.then = function () { spied.push('then'); };
                OriginalPromise.resolve = function () { spied.push('resolve'); };
                Object.defineProperty(OriginalPromise, Symbol.species, {
                    get() { spied.push('species'); return OriginalPromise; } });
                OriginalPromise.prototype.constructor = function () { spied.push('constructor'); };
                window.Promise = function () { spied.push('Promise'); };
                window.String = function () { spied.push('String'); return ''; };
                LockApp('1'); Init('7'); GetVCamList();
            `);
            await settle();
            assert.strictEqual(frame.page('spied.length + ":" + spied.join(",")'), '0:',
                JSON.stringify(options));
            expectCalls(frame, [['LockApp', '1'], ['Init', '7'], ['GetVCamList']]);
            assert.strictEqual(frame.debugLines.length, 3,
                'diagnostics still go to the captured console');
        }
    },

    // A page's own assignment replaces the native function for that page.
    async pageReplacement() {
        const frame = makeFrame();
        frame.page(`
            var mine = 0;
            window.Update = function () { mine += 1; return 'page'; };
            delete window.Close;
            Object.defineProperty(window, 'ReadCard', { value: 42 });
        `);
        assert.strictEqual(frame.page('Update()'), 'page');
        assert.strictEqual(frame.page('mine'), 1);
        assert.strictEqual(frame.page('typeof Close'), 'undefined');
        assert.strictEqual(frame.page('ReadCard'), 42);
        frame.page('GetVCamList()');
        await settle();
        expectCalls(frame, [['GetVCamList']]);
    },

    // Failures of the transport and odd arguments never reach the page as exceptions; a call
    // that cannot wait for the end of its task goes at once rather than not at all.
    async neverThrows() {
        for (const failure of ['xhrConstructorThrows', 'openThrows', 'sendThrows']) {
            const frame = makeFrame({ [failure]: true });
            for (const name of NAMES)
                assert.strictEqual(frame.page(`${name}('1')`), undefined, failure + ' ' + name);
            await settle();
            assert.strictEqual(frame.sent.length, 0);
        }
        const frame = makeFrame();
        frame.page(`
            var trap = new Proxy({}, { get() { throw new Error('trap'); },
                                       getPrototypeOf() { throw new Error('trap'); } });
            LockApp(trap); Init(Symbol('s')); LockApp({ toString() { throw new Error('x'); } });
            Init.call(null, '5'); new LockApp('1');
        `);
        await settle();
        expectCalls(frame, [['LockApp', ''], ['Init', ''], ['LockApp', ''], ['Init', '5'],
            ['LockApp', '1']]);
        const unqueued = makeFrame({ queueMicrotaskThrows: true });
        assert.strictEqual(unqueued.page(`GetVCamList(); Update();`), undefined);
        assert.strictEqual(unqueued.sent.length, 2, 'sent at once, one by one');
        await settle();
        expectCalls(unqueued, [['GetVCamList'], ['Update']]);
    },

    // Diagnostic lines carry the prefix the client's log filter looks for.
    async diagnostics() {
        const frame = makeFrame();
        frame.page(`Init('3')`);
        assert.strictEqual(frame.debugLines.length, 1);
        assert.ok(frame.debugLines[0].startsWith('[vorn-bridge] '), frame.debugLines[0]);
        const bare = makeFrame({ withoutConsoleOrCrypto: true });
        bare.page('LockApp("1")');
        await settle();
        expectCalls(bare, [['LockApp', '1']]);
    },
};

if (!scenarios[scenario] || !(MAX_CALLS > 0)) {
    console.error('usage: bridge_js_harness.js <bridge.js> <scenario> <calls per request>; ' +
        'scenarios: ' + Object.keys(scenarios).join(', '));
    process.exit(2);
}
scenarios[scenario]().then(() => process.exit(0), (e) => {
    console.error(e && e.stack ? e.stack : String(e));
    process.exit(1);
});
