// The demo page: what the personalized-offers plug-in serves, kept live from
// the host's event stream, with its reveal and purchase routes on the cards
// and an operator panel for the host's resources. Opened as /?token=<token>.
import {
  HostApi, NAMESPACE_URI, OFFERS_API, SESSION_URI, describeError,
} from './api.js';
import { el, offerCard, tickCountdowns } from './offer_card.js';
import { setUpOperatorPanel } from './operator_panel.js';

const $ = (id) => document.getElementById(id);
const api = new HostApi(new URLSearchParams(window.location.search).get('token') ?? '');

const page = {
  enabled: null,
  themed: null,
  namespace: null, // the configuration last seen, for the operator to restore
  revealed: new Map(), // offer id -> revealed, as last rendered
  rendered: null, // the list last rendered, as JSON
  player: null, // who the page last showed as signed in: "summonerId/idToken"
};

const NO_PLAYER = 'No player is signed in.';

function renderFlags() {
  const flag = (id, value, on, off) => {
    $(id).textContent = value === null ? '…' : value ? on : off;
    $(id).className = `flag ${value ? 'on' : 'off'}`;
  };
  flag('status', page.enabled, 'enabled', 'disabled');
  flag('themed', page.themed, 'on', 'off');
  document.body.classList.toggle('themed', page.themed === true);
  document.body.classList.toggle('feature-disabled', page.enabled === false);
  $('disabled-note').hidden = page.enabled !== false;
}

function renderPlayer(session) {
  // Another player (or none): the last action was the previous player's.
  const ready = session && session.state === 'SUCCEEDED';
  const player = ready ? `${session.summonerId}/${session.idToken}` : null;
  if (player !== page.player) clearResult();
  page.player = player;
  $('player').textContent = session
    ? `${session.idToken || '(no id token)'} · summoner ${session.summonerId} · ${session.state}`
    : 'signed out';
}

function showOffersMessage(text, isError) {
  $('offers-message').textContent = text;
  $('offers-message').classList.toggle('error', isError);
  $('offers-message').hidden = false;
}

function renderOffers(offers) {
  // The same list often comes twice (a route's answer and its event): the
  // cards stay, and so does the turn of a card just revealed.
  const rendered = JSON.stringify(offers);
  if (rendered === page.rendered) return;
  page.rendered = rendered;
  // A card turns when it was face down in the last rendering.
  const cards = offers.map((offer) => offerCard(offer, actions,
    offer.revealed && page.revealed.get(offer.id) === false));
  page.revealed = new Map(offers.map((offer) => [offer.id, offer.revealed]));
  $('offers').replaceChildren(...cards);
  $('offers-message').hidden = true;
  if (offers.length === 0) showOffersMessage('The plug-in lists no offers.', false);
}

function clearOffers(text, isError) {
  page.rendered = null;
  page.revealed.clear();
  $('offers').replaceChildren();
  showOffersMessage(text, isError);
}

function clearResult() {
  $('result-body').replaceChildren();
  $('result').hidden = true;
}

// The plug-in's answer while nobody is signed in is a state, not a fault.
function isNoPlayer(error) {
  return error instanceof Error && error.status === 409 && error.message === NO_PLAYER;
}

function showResult(title, ...body) {
  $('result-body').replaceChildren(el('p', { class: 'result-title' }, title), ...body);
  $('result').hidden = false;
}

function showFailure(title, error) {
  showResult(title, el('p', { class: 'error', role: 'alert' }, describeError(error)));
}

const actions = {
  async reveal(id) {
    try {
      renderOffers(await api.post(`${OFFERS_API}/offers/${encodeURIComponent(id)}/reveal`));
      showResult(`Revealed ${id}`);
    } catch (error) {
      showFailure(`Reveal of ${id} failed`, error);
    }
  },
  // The list itself comes back as the offers event: the plug-in fetches the
  // offers again after every purchase.
  async purchase(id) {
    try {
      const bought = await api.post(`${OFFERS_API}/offers/${encodeURIComponent(id)}/purchase`);
      showResult(`Purchased ${id}`,
        el('ul', { class: 'items' }, ...bought.items.map((item) => el('li', {},
          `${item.inventoryType} ${item.itemId}: paid ${item.pricePaid} QP`))),
        el('p', { class: 'wallet' }, `Wallet: ${bought.wallet.qp} QP`));
    } catch (error) {
      showFailure(`Purchase of ${id} failed`, error);
    }
  },
};

async function loadAll() {
  try {
    [page.enabled, page.themed] = await Promise.all([
      api.get(`${OFFERS_API}/status`), api.get(`${OFFERS_API}/themed`)]);
    renderFlags();
  } catch (error) {
    clearOffers(describeError(error), true);
    return;
  }
  try {
    renderPlayer(await api.get(HostApi.resource(SESSION_URI)));
  } catch (error) {
    if (error.status !== 404) throw error;
    renderPlayer(null);
  }
  try {
    page.namespace = await api.get(HostApi.resource(NAMESPACE_URI));
  } catch (error) {
    if (error.status !== 404) throw error; // deleted: the last one seen stays
  }
  try {
    renderOffers(await api.get(`${OFFERS_API}/offers`));
  } catch (error) {
    if (isNoPlayer(error)) clearOffers(NO_PLAYER, false);
    else clearOffers(describeError(error), true);
  }
}

// Reads everything again; calls that come while a reading runs make one more.
let reading = null;
let readAgain = false;
function reload() {
  if (reading) {
    readAgain = true;
    return reading;
  }
  reading = (async () => {
    do {
      readAgain = false;
      await loadAll().catch((error) => clearOffers(describeError(error), true));
    } while (readAgain);
  })().finally(() => { reading = null; });
  return reading;
}

function logEvent(event, id) {
  let summary = '';
  if (Array.isArray(event.data)) summary = `${event.data.length} offers`;
  else if (typeof event.data === 'boolean') summary = String(event.data);
  const entry = el('li', { 'data-uri': event.uri },
    el('time', {}, new Date().toLocaleTimeString()), ` #${id} `,
    el('code', {}, event.uri), ` ${event.eventType} ${summary}`);
  $('event-log').prepend(entry);
  while ($('event-log').children.length > 12) $('event-log').lastElementChild.remove();
}

function onEvent(event, id) {
  logEvent(event, id);
  switch (event.uri) {
    case `${OFFERS_API}/offers`:
      if (Array.isArray(event.data)) renderOffers(event.data);
      break;
    case `${OFFERS_API}/status`:
      page.enabled = event.data === true;
      renderFlags();
      break;
    case `${OFFERS_API}/themed`:
      page.themed = event.data === true;
      renderFlags();
      break;
    case SESSION_URI:
      // A new player's offers are fetched when asked for; the plug-in forgot
      // the previous player's.
      if (event.eventType === 'Delete') {
        renderPlayer(null);
        clearOffers(NO_PLAYER, false);
      } else {
        renderPlayer(event.data);
        reload();
      }
      break;
    case NAMESPACE_URI:
      // The themed flag and the service address change without an event of
      // the plug-in's: read them again.
      if (event.data) page.namespace = event.data;
      reload();
      break;
    default:
      break;
  }
}

// A watched plug-in was loaded again: its routes may have changed, and it
// starts from the host's resources, so everything is read again.
function onPlugin(name, payload) {
  const time = new Date().toLocaleTimeString();
  const reloaded = name === 'OnHostPluginReloaded';
  $('plugin').textContent = reloaded
    ? `reloaded${payload.version ? ` ${payload.version}` : ''} at ${time}`
    : `reload failed at ${time}: ${payload.error}`;
  $('plugin').className = `flag ${reloaded ? 'on' : 'off'}`;
  $('event-log').prepend(el('li', {}, el('time', {}, time), ' ', el('code', {}, name), ` ${payload.path}`));
  if (reloaded) reload();
}

api.listen(onEvent, (state) => {
  $('live').textContent = state;
  $('live').className = `flag ${state === 'connected' ? 'on' : 'off'}`;
}, onPlugin);
setUpOperatorPanel(api, {
  themed: () => page.themed === true,
  namespace: () => page.namespace,
  changed: reload,
});
setInterval(tickCountdowns, 1000);
reload();
