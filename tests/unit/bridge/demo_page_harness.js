// Checks the demo page's answer parsing (home/demo.js) without a DOM.
//   node demo_page_harness.js <demo.js> cards   < JSON array of ShowIdCard scripts
//       prints, per script, the parsed card as {key: [UTF-16 units]} or null
//   node demo_page_harness.js <demo.js> photo
//       exit code 0 when the photo URLs and camera parsing hold
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');

const source = fs.readFileSync(process.argv[2], 'utf8');
const mode = process.argv[3];

function loadDemo() {
    const context = vm.createContext({});
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
} else {
    console.error('unknown mode ' + mode);
    process.exit(2);
}
