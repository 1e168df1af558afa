// The engine's own error document stands in for a document that could not be loaded. Injected
// at document creation into every frame, it acts only on such a document.
//
// In the main frame the client shows its own error page at once (and an HTTP error that came
// without a body always looked empty), so the engine's document stays hidden there. In a frame
// nothing else would tell the candidate what happened: the engine's document is rewritten into
// the client's own heading and Reload button, from the failed address and the error name the
// engine gave it.
(function () {
    'use strict';

    if (location.protocol !== 'chrome-error:')
        return;
    // The script runs before the document has any element: its root is hidden as it arrives,
    // before anything of it is drawn.
    function hide() {
        var root = document.documentElement;
        if (root)
            root.style.setProperty('display', 'none', 'important');
        return !!root;
    }
    if (!hide()) {
        var watcher = new MutationObserver(function () {
            if (hide())
                watcher.disconnect();
        });
        watcher.observe(document, { childList: true });
    }

    // Chromium's network error numbers by name (its error list); a name missing here leaves
    // the number out of the heading.
    var CODES =
        'IO_PENDING:1 FAILED:2 ABORTED:3 INVALID_ARGUMENT:4 INVALID_HANDLE:5 FILE_NOT_FOUND:6 ' +
        'TIMED_OUT:7 FILE_TOO_BIG:8 UNEXPECTED:9 ACCESS_DENIED:10 NOT_IMPLEMENTED:11 ' +
        'INSUFFICIENT_RESOURCES:12 OUT_OF_MEMORY:13 UPLOAD_FILE_CHANGED:14 ' +
        'SOCKET_NOT_CONNECTED:15 FILE_EXISTS:16 FILE_PATH_TOO_LONG:17 FILE_NO_SPACE:18 ' +
        'FILE_VIRUS_INFECTED:19 BLOCKED_BY_CLIENT:20 NETWORK_CHANGED:21 ' +
        'BLOCKED_BY_ADMINISTRATOR:22 SOCKET_IS_CONNECTED:23 ' +
        'UPLOAD_STREAM_REWIND_NOT_SUPPORTED:25 CONTEXT_SHUT_DOWN:26 BLOCKED_BY_RESPONSE:27 ' +
        'CLEARTEXT_NOT_PERMITTED:29 BLOCKED_BY_CSP:30 H2_OR_QUIC_REQUIRED:31 ' +
        'CONNECTION_CLOSED:100 CONNECTION_RESET:101 CONNECTION_REFUSED:102 ' +
        'CONNECTION_ABORTED:103 CONNECTION_FAILED:104 NAME_NOT_RESOLVED:105 ' +
        'INTERNET_DISCONNECTED:106 SSL_PROTOCOL_ERROR:107 ADDRESS_INVALID:108 ' +
        'ADDRESS_UNREACHABLE:109 SSL_CLIENT_AUTH_CERT_NEEDED:110 TUNNEL_CONNECTION_FAILED:111 ' +
        'NO_SSL_VERSIONS_ENABLED:112 SSL_VERSION_OR_CIPHER_MISMATCH:113 ' +
        'SSL_RENEGOTIATION_REQUESTED:114 PROXY_AUTH_UNSUPPORTED:115 BAD_SSL_CLIENT_AUTH_CERT:117 ' +
        'CONNECTION_TIMED_OUT:118 HOST_RESOLVER_QUEUE_TOO_LARGE:119 SOCKS_CONNECTION_FAILED:120 ' +
        'SOCKS_CONNECTION_HOST_UNREACHABLE:121 ALPN_NEGOTIATION_FAILED:122 ' +
        'SSL_NO_RENEGOTIATION:123 WINSOCK_UNEXPECTED_WRITTEN_BYTES:124 ' +
        'SSL_DECOMPRESSION_FAILURE_ALERT:125 SSL_BAD_RECORD_MAC_ALERT:126 ' +
        'PROXY_AUTH_REQUESTED:127 PROXY_CONNECTION_FAILED:130 ' +
        'MANDATORY_PROXY_CONFIGURATION_FAILED:131 PRECONNECT_MAX_SOCKET_LIMIT:133 ' +
        'SSL_CLIENT_AUTH_PRIVATE_KEY_ACCESS_DENIED:134 SSL_CLIENT_AUTH_CERT_NO_PRIVATE_KEY:135 ' +
        'PROXY_CERTIFICATE_INVALID:136 NAME_RESOLUTION_FAILED:137 NETWORK_ACCESS_DENIED:138 ' +
        'TEMPORARILY_THROTTLED:139 HTTPS_PROXY_TUNNEL_RESPONSE_REDIRECT:140 ' +
        'SSL_CLIENT_AUTH_SIGNATURE_FAILED:141 MSG_TOO_BIG:142 WS_PROTOCOL_ERROR:145 ' +
        'ADDRESS_IN_USE:147 SSL_HANDSHAKE_NOT_COMPLETED:148 SSL_BAD_PEER_PUBLIC_KEY:149 ' +
        'SSL_PINNED_KEY_NOT_IN_CERT_CHAIN:150 CLIENT_AUTH_CERT_TYPE_UNSUPPORTED:151 ' +
        'SSL_DECRYPT_ERROR_ALERT:153 WS_THROTTLE_QUEUE_TOO_LARGE:154 SSL_SERVER_CERT_CHANGED:156 ' +
        'SSL_UNRECOGNIZED_NAME_ALERT:159 SOCKET_SET_RECEIVE_BUFFER_SIZE_ERROR:160 ' +
        'SOCKET_SET_SEND_BUFFER_SIZE_ERROR:161 SOCKET_RECEIVE_BUFFER_SIZE_UNCHANGEABLE:162 ' +
        'SOCKET_SEND_BUFFER_SIZE_UNCHANGEABLE:163 SSL_CLIENT_AUTH_CERT_BAD_FORMAT:164 ' +
        'ICANN_NAME_COLLISION:166 SSL_SERVER_CERT_BAD_FORMAT:167 CT_STH_PARSING_FAILED:168 ' +
        'CT_STH_INCOMPLETE:169 UNABLE_TO_REUSE_CONNECTION_FOR_PROXY_AUTH:170 ' +
        'CT_CONSISTENCY_PROOF_PARSING_FAILED:171 SSL_OBSOLETE_CIPHER:172 WS_UPGRADE:173 ' +
        'READ_IF_READY_NOT_IMPLEMENTED:174 NO_BUFFER_SPACE:176 ' +
        'SSL_CLIENT_AUTH_NO_COMMON_ALGORITHMS:177 EARLY_DATA_REJECTED:178 ' +
        'WRONG_VERSION_ON_EARLY_DATA:179 TLS13_DOWNGRADE_DETECTED:180 ' +
        'SSL_KEY_USAGE_INCOMPATIBLE:181 INVALID_ECH_CONFIG_LIST:182 ECH_NOT_NEGOTIATED:183 ' +
        'ECH_FALLBACK_CERTIFICATE_INVALID:184 ' +
        'CERT_COMMON_NAME_INVALID:200 CERT_DATE_INVALID:201 CERT_AUTHORITY_INVALID:202 ' +
        'CERT_CONTAINS_ERRORS:203 CERT_NO_REVOCATION_MECHANISM:204 ' +
        'CERT_UNABLE_TO_CHECK_REVOCATION:205 CERT_REVOKED:206 CERT_INVALID:207 ' +
        'CERT_WEAK_SIGNATURE_ALGORITHM:208 CERT_NON_UNIQUE_NAME:210 CERT_WEAK_KEY:211 ' +
        'CERT_NAME_CONSTRAINT_VIOLATION:212 CERT_VALIDITY_TOO_LONG:213 ' +
        'CERTIFICATE_TRANSPARENCY_REQUIRED:214 CERT_SYMANTEC_LEGACY:215 ' +
        'CERT_KNOWN_INTERCEPTION_BLOCKED:217 ' +
        'INVALID_URL:300 DISALLOWED_URL_SCHEME:301 UNKNOWN_URL_SCHEME:302 INVALID_REDIRECT:303 ' +
        'TOO_MANY_REDIRECTS:310 UNSAFE_REDIRECT:311 UNSAFE_PORT:312 INVALID_RESPONSE:320 ' +
        'INVALID_CHUNKED_ENCODING:321 METHOD_NOT_SUPPORTED:322 UNEXPECTED_PROXY_AUTH:323 ' +
        'EMPTY_RESPONSE:324 RESPONSE_HEADERS_TOO_BIG:325 PAC_SCRIPT_FAILED:327 ' +
        'REQUEST_RANGE_NOT_SATISFIABLE:328 MALFORMED_IDENTITY:329 CONTENT_DECODING_FAILED:330 ' +
        'NETWORK_IO_SUSPENDED:331 SYN_REPLY_NOT_RECEIVED:332 ENCODING_CONVERSION_FAILED:333 ' +
        'UNRECOGNIZED_FTP_DIRECTORY_LISTING_FORMAT:334 NO_SUPPORTED_PROXIES:336 ' +
        'HTTP2_PROTOCOL_ERROR:337 INVALID_AUTH_CREDENTIALS:338 UNSUPPORTED_AUTH_SCHEME:339 ' +
        'ENCODING_DETECTION_FAILED:340 MISSING_AUTH_CREDENTIALS:341 ' +
        'UNEXPECTED_SECURITY_LIBRARY_STATUS:342 MISCONFIGURED_AUTH_ENVIRONMENT:343 ' +
        'UNDOCUMENTED_SECURITY_LIBRARY_STATUS:344 RESPONSE_BODY_TOO_BIG_TO_DRAIN:345 ' +
        'RESPONSE_HEADERS_MULTIPLE_CONTENT_LENGTH:346 INCOMPLETE_HTTP2_HEADERS:347 ' +
        'PAC_NOT_IN_DHCP:348 RESPONSE_HEADERS_MULTIPLE_CONTENT_DISPOSITION:349 ' +
        'RESPONSE_HEADERS_MULTIPLE_LOCATION:350 HTTP2_SERVER_REFUSED_STREAM:351 ' +
        'HTTP2_PING_FAILED:352 CONTENT_LENGTH_MISMATCH:354 INCOMPLETE_CHUNKED_ENCODING:355 ' +
        'QUIC_PROTOCOL_ERROR:356 RESPONSE_HEADERS_TRUNCATED:357 QUIC_HANDSHAKE_FAILED:358 ' +
        'HTTP2_INADEQUATE_TRANSPORT_SECURITY:360 HTTP2_FLOW_CONTROL_ERROR:361 ' +
        'HTTP2_FRAME_SIZE_ERROR:362 HTTP2_COMPRESSION_ERROR:363 ' +
        'PROXY_AUTH_REQUESTED_WITH_NO_CONNECTION:364 HTTP_1_1_REQUIRED:365 ' +
        'PROXY_HTTP_1_1_REQUIRED:366 PAC_SCRIPT_TERMINATED:367 INVALID_HTTP_RESPONSE:370 ' +
        'CONTENT_DECODING_INIT_FAILED:371 HTTP2_RST_STREAM_NO_ERROR_RECEIVED:372 ' +
        'HTTP2_PUSHED_STREAM_NOT_AVAILABLE:373 HTTP2_CLAIMED_PUSHED_STREAM_RESET_BY_SERVER:374 ' +
        'TOO_MANY_RETRIES:375 HTTP2_STREAM_CLOSED:376 HTTP2_CLIENT_REFUSED_STREAM:377 ' +
        'HTTP2_PUSHED_RESPONSE_DOES_NOT_MATCH:378 HTTP_RESPONSE_CODE_FAILURE:379 ' +
        'QUIC_CERT_ROOT_NOT_KNOWN:380 QUIC_GOAWAY_REQUEST_CAN_BE_RETRIED:381 ' +
        'TOO_MANY_ACCEPT_CH_RESTARTS:382 ' +
        'INSECURE_RESPONSE:501 INVALID_SIGNED_EXCHANGE:504 INVALID_WEB_BUNDLE:505 ' +
        'DNS_MALFORMED_RESPONSE:800 DNS_SERVER_REQUIRES_TCP:801 DNS_SERVER_FAILED:802 ' +
        'DNS_TIMED_OUT:803 DNS_CACHE_MISS:804 DNS_SEARCH_EMPTY:805 DNS_SORT_ERROR:806 ' +
        'DNS_SECURE_RESOLVER_HOSTNAME_RESOLUTION_FAILED:808 DNS_NAME_HTTPS_ONLY:809 ' +
        'DNS_REQUEST_CANCELLED:810 ';

    function errorNumber(name) {
        var items = CODES.split(' ');
        for (var i = 0; i < items.length; i++) {
            var pair = items[i].split(':');
            if (pair[0] === name)
                return -Number(pair[1]);
        }
        return 0;
    }

    function value(key) {
        try {
            return loadTimeData.getValue(key);
        } catch (e) {
            return undefined;
        }
    }

    document.addEventListener('DOMContentLoaded', function () {
        var summary = value('summary');
        var failedUrl = summary && typeof summary.failedUrl === 'string' ? summary.failedUrl : '';
        var name = value('errorCode');
        var network = typeof name === 'string' && /^ERR_[A-Z0-9_]+$/.test(name);
        if (window === window.top || !network || !failedUrl) {
            // Left hidden: the client's page follows, or the server sent nothing to show.
            if (!network)
                document.title = '';
            return;
        }
        var number = errorNumber(name.substring(4));
        // A fresh document drops the engine's scripts and their listeners.
        document.open();
        document.close();
        var heading = document.createElement('h2');
        heading.textContent = 'Failed to load URL ' + failedUrl + ' with error net::' + name +
            (number ? ' (' + number + ').' : '.');
        var button = document.createElement('button');
        button.type = 'button';
        button.textContent = '\u91cd\u65b0\u52a0\u8f7d Reload';
        button.addEventListener('click', function () {
            location.replace(failedUrl);
        });
        document.body.appendChild(heading);
        document.body.appendChild(button);
    });
})();
