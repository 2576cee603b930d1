// One UI offer as a card: face down until revealed, then its skin, ids, type,
// prices with the saving, expiry countdown and owned state.

// An element with attributes and children (texts become text nodes, never
// markup).
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === false || value === undefined || value === null) continue;
    node.setAttribute(name, value === true ? '' : String(value));
  }
  node.append(...children.filter((child) => child !== null && child !== undefined));
  return node;
}

const price = (amount) => `${amount} QP`;

export function saving(offer) {
  const amount = offer.originalPrice - offer.discountPrice;
  const percent = offer.originalPrice > 0 ? Math.round((amount / offer.originalPrice) * 100) : 0;
  return `Save ${price(amount)} (${percent}%)`;
}

// "Expires in 6d 23:59:59", "Expired", or the text as it came when it is no
// time stamp.
export function countdown(expirationDate, now = Date.now()) {
  const end = Date.parse(expirationDate);
  if (Number.isNaN(end)) return `Expires ${expirationDate || '(no date)'}`;
  let seconds = Math.floor((end - now) / 1000);
  if (seconds <= 0) return 'Expired';
  const days = Math.floor(seconds / 86400);
  seconds %= 86400;
  const clock = [Math.floor(seconds / 3600), Math.floor((seconds % 3600) / 60), seconds % 60]
    .map((part) => String(part).padStart(2, '0'))
    .join(':');
  return `Expires in ${days > 0 ? `${days}d ` : ''}${clock}`;
}

function expiry(offer) {
  return el('p', { class: 'countdown', 'data-expires': offer.expirationDate },
    countdown(offer.expirationDate));
}

// `actions.reveal(id)` and `actions.purchase(id)` run on the buttons; `turning`
// plays the turn of a card revealed since the last rendering.
export function offerCard(offer, actions, turning) {
  if (!offer.revealed) {
    return el('li', { class: 'card face-down', 'data-offer-id': offer.id },
      el('div', { class: 'back' },
        el('span', { class: 'mark', 'aria-hidden': 'true' }, '?'),
        el('p', {}, 'Unrevealed offer'),
        expiry(offer),
        button('Reveal', 'reveal', () => actions.reveal(offer.id))));
  }
  const states = el('p', { class: 'states' },
    el('span', { class: offer.owned ? 'state owned' : 'state' },
      offer.owned ? 'Owned' : 'Not owned'),
    el('span', { class: 'state revealed' }, 'Revealed'));
  const purchase = button(offer.owned ? 'Owned' : 'Purchase', 'purchase',
    () => actions.purchase(offer.id));
  purchase.disabled = offer.owned;
  return el('li', {
    class: `card${offer.owned ? ' owned' : ''}${turning ? ' turning' : ''}`,
    'data-offer-id': offer.id,
  },
  el('div', { class: 'face' },
    el('p', { class: 'type' }, offer.type),
    el('h3', { class: 'skin-name' }, offer.skinName || '(no name)'),
    el('p', { class: 'ids' }, `Champion ${offer.championId} · Skin ${offer.skinId}`),
    el('p', { class: 'prices' },
      el('s', { class: 'original' }, price(offer.originalPrice)), ' ',
      el('strong', { class: 'discount' }, price(offer.discountPrice))),
    el('p', { class: 'saving' }, saving(offer)),
    expiry(offer),
    states,
    purchase));
}

// A button that stays pressed while its action runs.
function button(label, name, action) {
  const node = el('button', { type: 'button', class: name }, label);
  node.addEventListener('click', async () => {
    node.disabled = true;
    try {
      await action();
    } finally {
      node.disabled = false;
    }
  });
  return node;
}

// Moves every countdown on the page on.
export function tickCountdowns(root = document) {
  for (const node of root.querySelectorAll('[data-expires]')) {
    node.textContent = countdown(node.dataset.expires);
  }
}
