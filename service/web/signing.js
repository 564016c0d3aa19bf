// Signatures of signaling payloads, the same as the desktop's: HMAC-SHA256 with the room key (32
// bytes in base64url) over the payload's UTF-8 bytes, written in base64url without "=" (43
// characters). WebCrypto where the page runs in a secure context; elsewhere (plain-http LAN
// addresses) the bundled HMAC.

const alphabet = /^[A-Za-z0-9_-]*={0,2}$/;

export function base64urlEncode(bytes) {
  let binary = '';
  for (const byte of bytes) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

// The bytes of base64url text ("=" may be left out); null when it is not base64.
export function base64urlDecode(text) {
  if (typeof text !== 'string' || !alphabet.test(text)) return null;
  let standard = text.replace(/=+$/, '').replace(/-/g, '+').replace(/_/g, '/');
  if (standard.length % 4 === 1) return null;
  while (standard.length % 4) standard += '=';
  try {
    return Uint8Array.from(atob(standard), (c) => c.charCodeAt(0));
  } catch {
    return null;
  }
}

// Whether WebCrypto can be used: only in a secure context (https or localhost), so a page opened
// over plain http on the local network uses the bundled HMAC.
export function hasWebCrypto() {
  return Boolean(globalThis.crypto && globalThis.crypto.subtle);
}

function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  let difference = 0;
  for (let i = 0; i < a.length; ++i) difference |= a[i] ^ b[i];
  return difference === 0;
}

// A signer for the room key: { kind, sign(payload) → signature, verify(payload, sig) → bool },
// both asynchronous. Null when the key is not base64url.
export async function makeSigner(keyText, { bundled = !hasWebCrypto() } = {}) {
  const keyBytes = base64urlDecode(keyText);
  if (!keyBytes || keyBytes.length === 0) return null;
  const encoder = new TextEncoder();
  if (!bundled) {
    const key = await crypto.subtle.importKey('raw', keyBytes, { name: 'HMAC', hash: 'SHA-256' },
      false, ['sign', 'verify']);
    return {
      kind: 'webcrypto',
      async sign(payload) {
        return base64urlEncode(new Uint8Array(
          await crypto.subtle.sign('HMAC', key, encoder.encode(payload))));
      },
      async verify(payload, signature) {
        const code = base64urlDecode(signature);
        if (!code) return false;
        // WebCrypto compares in constant time.
        return crypto.subtle.verify('HMAC', key, code, encoder.encode(payload));
      },
    };
  }
  const [{ hmac }, { sha256 }] = await Promise.all([
    import('./noble/hmac.js'), import('./noble/sha2.js')]);
  const code = (payload) => hmac(sha256, keyBytes, encoder.encode(payload));
  return {
    kind: 'bundled',
    async sign(payload) {
      return base64urlEncode(code(payload));
    },
    async verify(payload, signature) {
      const given = base64urlDecode(signature);
      return given !== null && sameBytes(given, code(payload));
    },
  };
}
