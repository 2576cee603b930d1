// The page's only way out: calls to the host that served it, with the run's
// token, and the host's event stream.

export const OFFERS_API = '/tav-personalized-offers/v1';
export const SESSION_URI = '/tav-login/v1/session';
export const NAMESPACE_URI = '/tav-platform-config/v1/namespaces/PersonalizedOffers';
export const FULFILMENT_CLASS = 'com.teskgames.platform.messaging.StoreFulfillmentNotification';

// The host's events about the plug-in it watches.
export const PLUGIN_EVENTS = ['OnHostPluginReloaded', 'OnHostPluginReloadFailed'];

// A refusal as the host or the plug-in worded it, with its HTTP status.
export class HostError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

export class HostApi {
  // Without a token the browser's own credentials (Basic) are used.
  constructor(token) {
    this.token = token;
  }

  async request(method, path, body) {
    const headers = {};
    if (this.token) headers.Authorization = `Bearer ${this.token}`;
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    const response = await fetch(path, {
      method,
      headers,
      body: body === undefined ? undefined : JSON.stringify(body),
      cache: 'no-store',
    });
    const text = await response.text();
    let value = null;
    try {
      value = text ? JSON.parse(text) : null;
    } catch {
      value = text;
    }
    if (!response.ok) {
      const message = value && typeof value === 'object' ? value.message : value;
      throw new HostError(response.status, message || response.statusText);
    }
    return value;
  }

  get(path) { return this.request('GET', path); }
  post(path, body) { return this.request('POST', path, body); }
  put(path, body) { return this.request('PUT', path, body); }
  delete(path) { return this.request('DELETE', path); }

  // A host resource's operator address.
  static resource(uri) {
    return `/host/v1/resources${uri}`;
  }

  // Every resource event (the plug-in's own and the host's resources), as
  // {uri, eventType, data}, until the page goes. `onState` hears "connected"
  // and "reconnecting"; the browser reconnects by itself. `onPlugin` hears
  // the host's reloads of a watched plug-in (ktx-host --watch) as
  // (name, payload): {path, plugin, version, functions} after a reload,
  // {path, error} when the new library failed.
  listen(onEvent, onState, onPlugin = () => {}) {
    const query = new URLSearchParams({
      events: ['OnJsonApiEvent', ...PLUGIN_EVENTS].join(','),
    });
    if (this.token) query.set('token', this.token);
    const source = new EventSource(`/events?${query}`);
    source.addEventListener('open', () => onState('connected'));
    source.addEventListener('error', () => onState('reconnecting'));
    source.addEventListener('OnJsonApiEvent', (message) => {
      onEvent(JSON.parse(message.data), Number(message.lastEventId));
    });
    for (const name of PLUGIN_EVENTS) {
      source.addEventListener(name, (message) => onPlugin(name, JSON.parse(message.data)));
    }
    return source;
  }
}

// An error as a line for a person: the status and the words of whoever
// refused.
export function describeError(error) {
  return error instanceof HostError ? `${error.status}: ${error.message}` : String(error.message);
}
