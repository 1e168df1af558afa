// The built-in demo page: a button per native function and a panel for every answer.
// Answers arrive as calls of OnVCamList, OnIsRemoteLogin, OnClientInfo, ShowIdCard and
// ShowError; each is also written to the console ("[vorn-demo] <function> <text>") for the
// desktop tests.
// Page data is only ever shown through textContent, never parsed as HTML.
(function (global) {
    'use strict';

    // The card text is not JSON: "{PeopleIDCode:..,PeopleName:..,...,StartDate:.., EndDate:..,
    // Pic:..}" with unquoted values. Each marker is looked for after the previous value, in
    // this fixed order, so a value that itself contains a comma or a colon is kept whole.
    var CARD_FIELDS = [
        { key: 'PeopleIDCode', marker: '{PeopleIDCode:', zh: '公民身份号码', en: 'ID number' },
        { key: 'PeopleName', marker: ',PeopleName:', zh: '姓名', en: 'Name' },
        { key: 'PeopleSex', marker: ',PeopleSex:', zh: '性别', en: 'Sex' },
        { key: 'PeopleNation', marker: ',PeopleNation:', zh: '民族', en: 'Ethnic group' },
        { key: 'PeopleBirthday', marker: ',PeopleBirthday:', zh: '出生日期', en: 'Date of birth' },
        { key: 'PeopleAddress', marker: ',PeopleAddress:', zh: '住址', en: 'Address' },
        { key: 'NationCode', marker: ',NationCode:', zh: '民族代码', en: 'Ethnic code' },
        { key: 'StartDate', marker: ',StartDate:', zh: '有效期起', en: 'Valid from' },
        { key: 'EndDate', marker: ', EndDate:', zh: '有效期止', en: 'Valid until' },
        { key: 'Pic', marker: ', Pic:', zh: '照片文件', en: 'Photo file' }
    ];

    // Returns {PeopleIDCode: .., ..., Pic: ..} or null when the text lacks the card's form.
    function parseIdCardText(text) {
        if (typeof text !== 'string' || text.indexOf(CARD_FIELDS[0].marker) !== 0 ||
            text.charAt(text.length - 1) !== '}')
            return null;
        var body = text.slice(0, -1);
        var result = {};
        var position = CARD_FIELDS[0].marker.length;
        for (var i = 0; i < CARD_FIELDS.length; i++) {
            var end = body.length;
            if (i + 1 < CARD_FIELDS.length) {
                end = body.indexOf(CARD_FIELDS[i + 1].marker, position);
                if (end < 0)
                    return null;
            }
            result[CARD_FIELDS[i].key] = body.slice(position, end);
            if (i + 1 < CARD_FIELDS.length)
                position = end + CARD_FIELDS[i + 1].marker.length;
        }
        return result;
    }

    // A file URL for the photo path (POSIX "/a/b.jpg" or Windows "C:\a\b.jpg"), with a query
    // that changes on every reading so the new photo is shown, not the cached one.
    function photoUrl(path, stamp) {
        if (typeof path !== 'string' || path === '')
            return null;
        var windows = /^[A-Za-z]:[\\/]/.test(path);
        if (!windows && path.charAt(0) !== '/')
            return null;
        var segments = path.replace(/\\/g, '/').split('/');
        for (var i = 0; i < segments.length; i++) {
            if (!(windows && i === 0))
                segments[i] = encodeURIComponent(segments[i]);
        }
        return 'file://' + (windows ? '/' : '') + segments.join('/') + '?t=' + stamp;
    }

    // Returns [{devid, name, desc}] or null when the text is not the camera list's form.
    function parseCameraList(text) {
        var parsed;
        try {
            parsed = JSON.parse(text);
        } catch (e) {
            return null;
        }
        if (!parsed || !Array.isArray(parsed.video))
            return null;
        return parsed.video.map(function (camera) {
            camera = camera || {};
            return {
                devid: String(camera.devid === undefined ? '' : camera.devid),
                name: String(camera.name === undefined ? '' : camera.name),
                desc: String(camera.desc === undefined ? '' : camera.desc)
            };
        });
    }

    // The X-Vorn-Request-Hash value the client sends with a request of `url`: hex SHA-256 of the
    // URL without its fragment followed by the client key. Resolves to null for a URL that is
    // not HTTP(S) (the client signs only those) or without a key or Web Crypto.
    function requestHash(url, key, subtle) {
        var absolute = String(url).split('#')[0];
        if (!/^https?:/i.test(absolute) || !key || !subtle)
            return Promise.resolve(null);
        var bytes = new TextEncoder().encode(absolute + key);
        return subtle.digest('SHA-256', bytes).then(function (digest) {
            var hex = '';
            new Uint8Array(digest).forEach(function (b) {
                hex += (b < 16 ? '0' : '') + b.toString(16);
            });
            return hex;
        });
    }

    // The client report as [label, value] rows in its own key order, or null when unreadable.
    var CLIENT_INFO_LABELS = {
        version: ['版本', 'Version'],
        platform: ['平台', 'Platform'],
        lockAvailable: ['可锁定', 'Lock available'],
        locked: ['已锁定', 'Locked'],
        displays: ['显示器数量', 'Displays'],
        virtualMachine: ['虚拟机', 'Virtual machine'],
        remoteSession: ['远程会话', 'Remote session'],
        screenCapture: ['录屏/共享程序', 'Screen capture'],
        requestKey: ['客户端密钥', 'Client key']
    };

    function parseClientInfo(text) {
        var parsed;
        try {
            parsed = JSON.parse(text);
        } catch (e) {
            return null;
        }
        if (!parsed || typeof parsed !== 'object' || Array.isArray(parsed))
            return null;
        return Object.keys(parsed).map(function (key) {
            var value = parsed[key];
            var shown = Array.isArray(value) ? (value.length ? value.join(', ') : '—') :
                value === '' ? '—' : String(value);
            var label = CLIENT_INFO_LABELS[key] || [key, key];
            return { key: key, zh: label[0], en: label[1], value: shown, raw: value };
        });
    }

    global.VornDemo = {
        parseIdCardText: parseIdCardText,
        parseCameraList: parseCameraList,
        parseClientInfo: parseClientInfo,
        requestHash: requestHash,
        photoUrl: photoUrl
    };

    if (typeof document === 'undefined')
        return;

    // ---- The page itself -----------------------------------------------------------------

    function $(id) {
        return document.getElementById(id);
    }

    function bilingual(element, zh, en) {
        element.textContent = zh + ' ';
        var span = document.createElement('span');
        span.className = 'en';
        span.textContent = en;
        element.appendChild(span);
    }

    function now() {
        var d = new Date();
        function two(n) { return (n < 10 ? '0' : '') + n; }
        return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
    }

    function logAnswer(name, text) {
        try {
            console.log('[vorn-demo] ' + name + ' ' + text);
        } catch (e) { /* no console */ }
        var item = document.createElement('li');
        var time = document.createElement('time');
        time.textContent = now();
        var fn = document.createElement('b');
        fn.textContent = name;
        var body = document.createElement('code');
        body.textContent = String(text);
        item.appendChild(time);
        item.appendChild(fn);
        item.appendChild(body);
        var log = $('answer-log');
        log.insertBefore(item, log.firstChild);
        while (log.children.length > 200)
            log.removeChild(log.lastChild);
    }

    global.OnVCamList = function (text) {
        logAnswer('OnVCamList', text);
        var cameras = parseCameraList(text);
        var table = $('camera-table');
        var tbody = table.tBodies[0];
        tbody.textContent = '';
        $('camera-time').textContent = now();
        if (cameras === null) {
            table.hidden = true;
            $('camera-empty').hidden = false;
            bilingual($('camera-empty'), '无法解析的应答', 'Answer could not be read');
            return;
        }
        cameras.forEach(function (camera) {
            var row = tbody.insertRow();
            [camera.devid, camera.name, camera.desc].forEach(function (value) {
                row.insertCell().textContent = value;
            });
        });
        table.hidden = cameras.length === 0;
        $('camera-empty').hidden = cameras.length !== 0;
        bilingual($('camera-empty'), '没有虚拟摄像头', 'No virtual cameras');
    };

    global.OnIsRemoteLogin = function (text) {
        logAnswer('OnIsRemoteLogin', text);
        var state = $('remote-state');
        var flag = null;
        try {
            flag = JSON.parse(text).isRemoteLogin;
        } catch (e) { /* shown as unreadable below */ }
        state.className = flag === 1 ? 'bad' : flag === 0 ? 'good' : '';
        if (flag === 1)
            bilingual(state, '检测到远程控制软件', 'Remote-control software detected');
        else if (flag === 0)
            bilingual(state, '未检测到', 'None detected');
        else
            bilingual(state, '无法解析的应答', 'Answer could not be read');
    };

    global.OnClientInfo = function (text) {
        logAnswer('OnClientInfo', text);
        $('client-time').textContent = now();
        var rows = parseClientInfo(text);
        var facts = $('client-facts');
        facts.textContent = '';
        if (rows === null) {
            bilingual($('client-empty'), '无法解析的应答', 'Answer could not be read');
            $('client-empty').hidden = false;
            return;
        }
        $('client-empty').hidden = true;
        var key = '';
        rows.forEach(function (row) {
            var dt = document.createElement('dt');
            bilingual(dt, row.zh, row.en);
            var dd = document.createElement('dd');
            dd.textContent = row.value;
            if (row.key === 'requestKey') {
                dd.className = 'mono';
                key = typeof row.raw === 'string' ? row.raw : '';
            }
            facts.appendChild(dt);
            facts.appendChild(dd);
        });
        // This page's own request (its document) carried the header the client signed.
        var header = $('request-header');
        var url = String(global.location.href).split('#')[0];
        requestHash(url, key, global.crypto && global.crypto.subtle).then(function (hash) {
            if (hash === null) {
                bilingual(header, '本页不是通过 HTTP(S) 加载的，请求不带签名头。',
                    'This page was not loaded over HTTP(S): its request carried no header.');
            } else {
                header.textContent = 'GET ' + url + '\nX-Vorn-Request-Hash: ' + hash;
            }
            try {
                console.log('[vorn-demo] header ' + (hash === null ? '' : hash));
            } catch (e) { /* no console */ }
        });
    };

    global.ShowIdCard = function (text) {
        logAnswer('ShowIdCard', text);
        $('card-time').textContent = now();
        var card = parseIdCardText(text);
        var fields = $('card-fields');
        fields.textContent = '';
        $('card-raw').hidden = card !== null;
        $('card-raw').textContent = card === null ? String(text) : '';
        if (card === null)
            return;
        CARD_FIELDS.forEach(function (field) {
            var term = document.createElement('dt');
            bilingual(term, field.zh, field.en);
            var value = document.createElement('dd');
            value.textContent = card[field.key];
            fields.appendChild(term);
            fields.appendChild(value);
        });
        var url = photoUrl(card.Pic, Date.now());
        var photo = $('card-photo');
        photo.hidden = url === null;
        $('photo-placeholder').hidden = url !== null;
        if (url !== null)
            photo.src = url;
        else
            photo.removeAttribute('src');
    };

    global.ShowError = function (text) {
        logAnswer('ShowError', text);
        var item = document.createElement('li');
        var time = document.createElement('time');
        time.textContent = now();
        var body = document.createElement('span');
        body.textContent = String(text);
        item.appendChild(time);
        item.appendChild(body);
        var list = $('error-list');
        list.insertBefore(item, list.firstChild);
        while (list.children.length > 20)
            list.removeChild(list.lastChild);
        $('error-empty').hidden = true;
    };

    function showLockAvailability() {
        var available = global.__vornLockAvailable;
        var pill = $('lock-availability');
        if (available === true) {
            pill.className = 'pill pill-good';
            bilingual(pill, '锁定能力：可用', 'Lock: available');
        } else if (available === false) {
            pill.className = 'pill pill-bad';
            bilingual(pill, '锁定能力：不可用', 'Lock: not available');
        } else {
            pill.className = 'pill pill-unknown';
            bilingual(pill, '锁定能力：未知', 'Lock: unknown');
        }
        $('wayland-notice').hidden = available !== false;
    }

    function call(name, args, after) {
        var fn = global[name];
        if (typeof fn !== 'function') {
            $('bridge-missing').hidden = false;
            return;
        }
        fn.apply(global, args);
        if (after)
            after();
    }

    function wire() {
        $('btn-lock').addEventListener('click', function () {
            call('LockApp', ['1'], function () {
                bilingual($('lock-state'), '已请求锁定', 'lock requested');
                showLockAvailability();
            });
        });
        $('btn-unlock').addEventListener('click', function () {
            call('LockApp', ['0'], function () {
                bilingual($('lock-state'), '已请求解锁', 'unlock requested');
            });
        });
        $('btn-init').addEventListener('click', function () {
            call('Init', [$('port').value]);
        });
        $('btn-readcard').addEventListener('click', function () { call('ReadCard', []); });
        $('btn-close').addEventListener('click', function () { call('Close', []); });
        $('btn-vcam').addEventListener('click', function () { call('GetVCamList', []); });
        $('btn-remote').addEventListener('click', function () { call('GetIsRemoteLogin', []); });
        $('btn-clientinfo').addEventListener('click', function () { call('GetClientInfo', []); });
        $('btn-update').addEventListener('click', function () { call('Update', []); });

        $('photo-placeholder').hidden = false;
        $('card-photo').addEventListener('error', function () {
            this.hidden = true;
            $('photo-placeholder').hidden = false;
            bilingual($('photo-placeholder'), '照片无法显示', 'Photo cannot be shown');
        });
        $('bridge-missing').hidden = typeof global.LockApp === 'function';
        showLockAvailability();
    }

    if (document.readyState === 'loading')
        document.addEventListener('DOMContentLoaded', wire);
    else
        wire();
})(window);
