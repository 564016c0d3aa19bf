// The page's connection to the shared shelf: it joins the room on the share service as a guest,
// answers the desktop's WebRTC offer with every signal payload signed and checked with the room
// key, and hands over the data channel that the desktop opens. The key stays in this page: the
// service only relays payloads and signatures.

import { makeSigner } from './signing.js';

// Counts a test can read (window.vyoSharePage.counters); they carry no payloads.
export const counters = {
  signalsSent: 0,
  signalsVerified: 0,
  signalsDropped: 0,
  candidatesQueued: 0,
  candidatesAdded: 0,
  answersSent: 0,
};

// The room's WebSocket address: the "signal" base when the share address names one, else the
// page's own service.
export function roomSocketURL(location, roomID) {
  const signal = new URLSearchParams(location.search).get('signal');
  let base;
  try {
    base = new URL(signal || location.origin);
  } catch {
    base = new URL(location.origin);
  }
  const secure = base.protocol === 'https:' || base.protocol === 'wss:';
  return `${secure ? 'wss' : 'ws'}://${base.host}/api/room/${encodeURIComponent(roomID)}?role=guest`;
}

async function iceServers() {
  try {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), 8000);
    const response = await fetch('/api/ice', { cache: 'no-store', signal: controller.signal });
    clearTimeout(timer);
    const body = await response.json();
    return Array.isArray(body.iceServers) ? body.iceServers : [];
  } catch {
    return [];
  }
}

// Events through `onEvent(name, detail)`: "joined" ({host}), "host-joined", "host-left"
// ({ended}), "negotiating", "channel" (the open data channel), "failed" ({reason}),
// "refused" ({code, reason}).
export class RoomConnection {
  constructor({ socketURL, key, onEvent }) {
    this.socketURL = socketURL;
    this.key = key;
    this.onEvent = onEvent;
    this.socket = null;
    this.pc = null;
    this.channel = null;
    this.signer = null;
    this.closed = false;
    this.pendingCandidates = [];
    this.hasRemoteDescription = false;
    // Signals are handled one after another, in arrival order.
    this.chain = Promise.resolve();
  }

  async open() {
    this.signer = await makeSigner(this.key);
    if (!this.signer) throw new Error('bad key');
    this.ice = await iceServers();
    if (this.closed) return;
    const socket = new WebSocket(this.socketURL);
    this.socket = socket;
    socket.onmessage = (event) => {
      if (typeof event.data !== 'string') return;
      let message;
      try {
        message = JSON.parse(event.data);
      } catch {
        return;
      }
      if (!message || typeof message !== 'object') return;
      this.chain = this.chain.then(() => this.handle(message)).catch(() => {});
    };
    socket.onclose = (event) => {
      if (this.socket !== socket || this.closed) return;
      this.socket = null;
      if (event.code >= 4000 && event.code < 5000) {
        this.onEvent('refused', { code: event.code, reason: event.reason });
        return;
      }
      // Once the data channel is open, signaling is no longer needed.
      if (!this.channel || this.channel.readyState !== 'open')
        this.onEvent('failed', { reason: 'signaling' });
    };
  }

  close() {
    this.closed = true;
    if (this.socket) this.socket.close(1000);
    this.socket = null;
    this.closePeer();
  }

  closePeer() {
    if (this.channel) {
      this.channel.onclose = null;
      this.channel.close();
    }
    if (this.pc) {
      this.pc.onconnectionstatechange = null;
      this.pc.close();
    }
    this.channel = null;
    this.pc = null;
  }

  async handle(message) {
    switch (message.type) {
    case 'welcome':
      this.onEvent('joined', { host: message.host === true });
      break;
    case 'host-joined':
      this.onEvent('host-joined', {});
      break;
    case 'host-left':
      this.onEvent('host-left', { ended: message.ended === true });
      break;
    case 'signal':
      if (typeof message.payload !== 'string' || typeof message.sig !== 'string') return;
      if (!(await this.signer.verify(message.payload, message.sig))) {
        // A signal the room key did not sign never reaches the peer connection.
        ++counters.signalsDropped;
        return;
      }
      ++counters.signalsVerified;
      await this.handlePayload(message.payload);
      break;
    default:
      break;
    }
  }

  async send(payloadObject) {
    const payload = JSON.stringify(payloadObject);
    const sig = await this.signer.sign(payload);
    if (!this.socket || this.socket.readyState !== WebSocket.OPEN) return;
    this.socket.send(JSON.stringify({ payload, sig, type: 'signal' }));
    ++counters.signalsSent;
  }

  async handlePayload(text) {
    let payload;
    try {
      payload = JSON.parse(text);
    } catch {
      return;
    }
    if (!payload || typeof payload !== 'object') return;
    const sdp = payload.sdp;
    if (sdp && sdp.type === 'offer' && typeof sdp.sdp === 'string') {
      await this.answer(sdp.sdp);
      return;
    }
    const candidate = payload.candidate;
    if (candidate && typeof candidate.candidate === 'string' && candidate.candidate) {
      const init = {
        candidate: candidate.candidate,
        sdpMLineIndex: Number.isInteger(candidate.sdpMLineIndex) ? candidate.sdpMLineIndex : 0,
      };
      if (typeof candidate.sdpMid === 'string') init.sdpMid = candidate.sdpMid;
      // Candidates can arrive before the offer has been applied: they wait for it.
      if (!this.pc || !this.hasRemoteDescription) {
        this.pendingCandidates.push(init);
        ++counters.candidatesQueued;
        return;
      }
      await this.addCandidate(init);
    }
  }

  async addCandidate(init) {
    try {
      await this.pc.addIceCandidate(init);
      ++counters.candidatesAdded;
    } catch {
      // A candidate the browser cannot use is skipped; others may still connect.
    }
  }

  // A new offer (the first, or one after the desktop came back) starts a new peer connection.
  async answer(offerSDP) {
    const queued = this.hasRemoteDescription ? [] : this.pendingCandidates;
    this.closePeer();
    this.pendingCandidates = queued;
    this.hasRemoteDescription = false;
    this.onEvent('negotiating', {});
    // Tests make the page connect only through the relay with `globalThis.vyoRelayOnly`.
    const pc = new RTCPeerConnection({ iceServers: this.ice,
      iceTransportPolicy: globalThis.vyoRelayOnly ? 'relay' : 'all' });
    this.pc = pc;
    pc.onicecandidate = (event) => {
      if (pc !== this.pc || !event.candidate || !event.candidate.candidate) return;
      const candidate = { candidate: event.candidate.candidate,
        sdpMLineIndex: event.candidate.sdpMLineIndex ?? 0 };
      if (event.candidate.sdpMid !== null) candidate.sdpMid = event.candidate.sdpMid;
      this.send({ candidate });
    };
    pc.onconnectionstatechange = () => {
      if (pc !== this.pc) return;
      if (pc.connectionState === 'failed') this.onEvent('failed', { reason: 'connection' });
    };
    pc.ondatachannel = (event) => {
      if (pc !== this.pc) return;
      const channel = event.channel;
      channel.binaryType = 'arraybuffer';
      this.channel = channel;
      const opened = () => this.onEvent('channel', channel);
      if (channel.readyState === 'open') opened();
      else channel.addEventListener('open', opened, { once: true });
    };
    await pc.setRemoteDescription({ type: 'offer', sdp: offerSDP });
    if (pc !== this.pc) return;
    this.hasRemoteDescription = true;
    const waiting = this.pendingCandidates;
    this.pendingCandidates = [];
    for (const init of waiting) await this.addCandidate(init);
    const answer = await pc.createAnswer();
    await pc.setLocalDescription(answer);
    if (pc !== this.pc) return;
    await this.send({ sdp: { sdp: pc.localDescription.sdp, type: 'answer' } });
    ++counters.answersSent;
  }

  // The largest message the desktop's end accepts, as the browser negotiated it.
  maxMessageSize() {
    const size = this.pc && this.pc.sctp ? this.pc.sctp.maxMessageSize : 0;
    return Number.isFinite(size) && size > 0 ? size : 0;
  }
}
