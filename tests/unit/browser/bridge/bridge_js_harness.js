// Loads the injected page script into a fake frame (a fresh node context whose window has a
// recording XMLHttpRequest) and checks one scenario.
//   node bridge_js_harness.js <bridge.js> <scenario>
// Exit code 0 when every check of the scenario holds; otherwise the failures on stderr.
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');
const { webcrypto } = require('crypto');

const bridgeSource = fs.readFileSync(process.argv[2], 'utf8');
const scenario = process.argv[3];
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
    };
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

const URL_PATTERN = /^vornbridge:\/\/call\/\?d=([0-9a-f]{16})&s=([0-9]+)&a=([^&#]*)$/;

function decode(request) {
    const match = URL_PATTERN.exec(request.url);
    assert.ok(match, 'URL has the bridge form: ' + request.url);
    assert.strictEqual(request.method, 'GET');
    assert.strictEqual(request.async, true, 'asynchronous request');
    assert.strictEqual(request.sent, true);
    return { doc: match[1], seq: Number(match[2]), args: JSON.parse(decodeURIComponent(match[3])) };
}

function expectRequests(frame, expectedArgs) {
    assert.strictEqual(frame.sent.length, expectedArgs.length, 'one request per call');
    const decoded = frame.sent.map(decode);
    decoded.forEach((request, i) => {
        assert.deepStrictEqual(request.args, expectedArgs[i], 'request ' + (i + 1));
        assert.strictEqual(request.seq, i + 1, 'sequence counts from 1');
        assert.strictEqual(request.doc, decoded[0].doc, 'one token per document');
    });
    return decoded;
}

const scenarios = {
    // The functions are plain data properties of window, return undefined.
    functions() {
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
        assert.strictEqual(frame.sent.length, NAMES.length);
    },

    // Only LockApp and Init with exactly one argument carry it; non-strings travel as "".
    argumentRules() {
        const frame = makeFrame();
        frame.page(`
            LockApp('1'); LockApp('0'); LockApp(1); LockApp(true); LockApp(null);
            LockApp(undefined); LockApp({ toString() { return '1'; } }); LockApp(new String('1'));
            LockApp(); LockApp('1', '2');
            Init('3'); Init(3); Init(); Init('3', '4'); Init('');
            Close('x'); ReadCard(1); Update('1'); GetVCamList('a', 'b'); GetIsRemoteLogin(true);
            GetClientInfo('x');
        `);
        expectRequests(frame, [
            ['LockApp', '1'], ['LockApp', '0'], ['LockApp', ''], ['LockApp', ''], ['LockApp', ''],
            ['LockApp', ''], ['LockApp', ''], ['LockApp', ''],
            ['LockApp'], ['LockApp'],
            ['Init', '3'], ['Init', ''], ['Init'], ['Init'], ['Init', ''],
            ['Close'], ['ReadCard'], ['Update'], ['GetVCamList'], ['GetIsRemoteLogin'],
            ['GetClientInfo'],
        ]);
    },

    // Any string argument reaches the browser side exactly, whatever it contains.
    hostileArguments() {
        const frame = makeFrame();
        const texts = ['a&b=c#d?e%f+g h', '\u2028\u2029\n\r\t\0', '"\'\\', '</script>',
            '\uD83D\uDE00 \u4E2D\u6587', '\uD800', '\uDC00x', 'x'.repeat(10000)];
        for (const text of texts)
            frame.page(`LockApp(${JSON.stringify(text)})`);
        expectRequests(frame, texts.map((text) => ['LockApp', text]));
    },

    // Each document has its own random token and its own sequence from 1; order is kept.
    documents() {
        const first = makeFrame();
        const second = makeFrame();
        first.page(`for (let i = 0; i < 300; i++) GetIsRemoteLogin();`);
        second.page(`Update();`);
        const a = expectRequests(first, Array(300).fill(['GetIsRemoteLogin']));
        const b = expectRequests(second, [['Update']]);
        assert.notStrictEqual(a[0].doc, b[0].doc, 'tokens differ between documents');
    },

    // A page that replaces what the bridge uses can neither break it nor see its requests.
    capturedAtInjection() {
        const frame = makeFrame();
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
            LockApp('1'); Init('7'); GetVCamList();
        `);
        assert.strictEqual(frame.page('spied.length + ":" + spied.join(",")'), '0:');
        expectRequests(frame, [['LockApp', '1'], ['Init', '7'], ['GetVCamList']]);
        assert.strictEqual(frame.debugLines.length, 3, 'diagnostics still go to the captured console');
    },

    // A page's own assignment replaces the native function for that page.
    pageReplacement() {
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
        expectRequests(frame, [['GetVCamList']]);
    },

    // Failures of the transport and odd arguments never reach the page as exceptions.
    neverThrows() {
        for (const failure of ['xhrConstructorThrows', 'openThrows', 'sendThrows']) {
            const frame = makeFrame({ [failure]: true });
            for (const name of NAMES)
                assert.strictEqual(frame.page(`${name}('1')`), undefined, failure + ' ' + name);
            assert.strictEqual(frame.sent.length, 0);
        }
        const frame = makeFrame();
        frame.page(`
            var trap = new Proxy({}, { get() { throw new Error('trap'); },
                                       getPrototypeOf() { throw new Error('trap'); } });
            LockApp(trap); Init(Symbol('s')); LockApp({ toString() { throw new Error('x'); } });
            Init.call(null, '5'); new LockApp('1');
        `);
        expectRequests(frame, [['LockApp', ''], ['Init', ''], ['LockApp', ''], ['Init', '5'],
            ['LockApp', '1']]);
    },

    // Diagnostic lines carry the prefix the client's log filter looks for.
    diagnostics() {
        const frame = makeFrame();
        frame.page(`Init('3')`);
        assert.strictEqual(frame.debugLines.length, 1);
        assert.ok(frame.debugLines[0].startsWith('[vorn-bridge] '), frame.debugLines[0]);
        const bare = makeFrame({ withoutConsoleOrCrypto: true });
        bare.page('LockApp("1")');
        expectRequests(bare, [['LockApp', '1']]);
    },
};

if (!scenarios[scenario]) {
    console.error('unknown scenario ' + scenario + '; known: ' + Object.keys(scenarios).join(', '));
    process.exit(2);
}
try {
    scenarios[scenario]();
} catch (e) {
    console.error(e && e.stack ? e.stack : String(e));
    process.exit(1);
}
