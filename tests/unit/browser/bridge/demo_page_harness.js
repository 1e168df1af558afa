// Checks the demo page's answer parsing (home/demo.js) without a DOM.
//   node demo_page_harness.js <demo.js> cards   < JSON array of ShowIdCard scripts
//       prints, per script, the parsed card as {key: [UTF-16 units]} or null
//   node demo_page_harness.js <demo.js> photo
//       exit code 0 when the photo URLs and camera parsing hold
//   node demo_page_harness.js <demo.js> clientinfo   < an OnClientInfo script
//       exit code 0 when the page reads the report and signs URLs as the client does
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');

const source = fs.readFileSync(process.argv[2], 'utf8');
const mode = process.argv[3];

function loadDemo(globals = {}) {
    const context = vm.createContext(globals);
    vm.runInContext('globalThis.window = globalThis;', context);
    vm.runInContext(source, context, { filename: 'demo.js' });
    return context;
}

function units(text) {
    const out = [];
    for (let i = 0; i < text.length; i++) out.push(text.charCodeAt(i));
    return out;
}

if (mode === 'cards') {
    const scripts = JSON.parse(fs.readFileSync(0, 'utf8'));
    const reports = scripts.map((script) => {
        const context = loadDemo();
        let parsed;
        context.ShowIdCard = (text) => { parsed = context.VornDemo.parseIdCardText(text); };
        vm.runInContext(script, context);
        if (!parsed) return null;
        const out = {};
        for (const key of Object.keys(parsed)) out[key] = units(parsed[key]);
        return out;
    });
    process.stdout.write(JSON.stringify(reports));
} else if (mode === 'photo') {
    try {
        const demo = loadDemo().VornDemo;
        assert.strictEqual(demo.photoUrl('/opt/vorn/idcard.jpg', 5), 'file:///opt/vorn/idcard.jpg?t=5');
        assert.strictEqual(demo.photoUrl('/a b/#1?.jpg', 7), 'file:///a%20b/%231%3F.jpg?t=7');
        assert.strictEqual(demo.photoUrl('C:\\Client\\idcard.jpg', 9), 'file:///C:/Client/idcard.jpg?t=9');
        assert.strictEqual(demo.photoUrl('D:/x/\u7167.jpg', 1), 'file:///D:/x/%E7%85%A7.jpg?t=1');
        assert.strictEqual(demo.photoUrl('', 1), null);
        assert.strictEqual(demo.photoUrl('relative.jpg', 1), null);
        assert.strictEqual(demo.photoUrl('javascript:alert(1)', 1), null);
        assert.notStrictEqual(demo.photoUrl('/p.jpg', 1), demo.photoUrl('/p.jpg', 2));

        const cams = demo.parseCameraList('{"video":[{"devid":"/dev/video2","name":"N","desc":"D"}]}');
        assert.strictEqual(JSON.stringify(cams), '[{"devid":"/dev/video2","name":"N","desc":"D"}]');
        assert.strictEqual(demo.parseCameraList('{"video":[]}').length, 0);
        assert.strictEqual(demo.parseCameraList('not json'), null);
        assert.strictEqual(demo.parseCameraList('{"cams":[]}'), null);
        assert.strictEqual(demo.parseIdCardText('{PeopleIDCode:1}'), null);
        assert.strictEqual(demo.parseIdCardText('plain error text'), null);
    } catch (e) {
        console.error(e.stack || String(e));
        process.exit(1);
    }
} else if (mode === 'clientinfo') {
    const { createHash, webcrypto } = require('crypto');
    const context = loadDemo({ TextEncoder });
    const demo = context.VornDemo;
    let rows = null;
    context.OnClientInfo = (text) => { rows = demo.parseClientInfo(text); };
    vm.runInContext(fs.readFileSync(0, 'utf8'), context);
    const check = async () => {
        assert.ok(rows, 'the report is read');
        // Arrays of the demo's context have another prototype: compared as text.
        assert.strictEqual(JSON.stringify(rows.map((r) => r.key)), JSON.stringify(['version',
            'platform', 'lockAvailable', 'locked', 'displays', 'virtualMachine', 'remoteSession',
            'screenCapture', 'requestKey']));
        const key = rows[8].raw;
        assert.strictEqual(rows[7].value, 'OBS, ffmpeg');
        const url = 'http://127.0.0.1:8080/exam/p?q=1&x=%20y';
        const expected = createHash('sha256').update(url + key).digest('hex');
        assert.strictEqual(await demo.requestHash(url + '#part', key, webcrypto.subtle), expected);
        assert.strictEqual(await demo.requestHash('vorn://home/index.html', key, webcrypto.subtle), null);
        assert.strictEqual(await demo.requestHash(url, '', webcrypto.subtle), null);
        assert.strictEqual(demo.parseClientInfo('[1]'), null);
        assert.strictEqual(demo.parseClientInfo('not json'), null);
    };
    check().catch((e) => {
        console.error(e.stack || String(e));
        process.exit(1);
    });
} else {
    console.error('unknown mode ' + mode);
    process.exit(2);
}
